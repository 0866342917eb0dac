/*
 * setupsup.h - public interface of setupsup.dll, the setup-support library.
 *
 * Every export uses the stdcall (WINAPI) convention, takes ANSI strings and
 * returns one 32-bit value. Link with libsetupsup.dll.a (MinGW) or
 * setupsup.lib (MSVC), or load the DLL with LoadLibraryA and look the
 * undecorated names up with GetProcAddress.
 */
#ifndef SETUPSUP_H
#define SETUPSUP_H

#include <windows.h>

#ifndef SETUPSUP_API
#ifdef SETUPSUP_BUILDING_DLL
#define SETUPSUP_API
#else
#define SETUPSUP_API __declspec(dllimport)
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* CBF dialog files. A null source path means "ZORBDLG.CBF" in the current
 * directory. The target's three file times are kept on success. */

/* Merges the present procs of sourcePath into targetPath: 0 on success, -1 target not
 * openable exclusively, 1 out of memory, 3 bad header or times, 4 seek, 5 tell, 6 short
 * read, 7 short write, 8 map not written. */
SETUPSUP_API int WINAPI MergeCbf(const char* sourcePath, const char* targetPath);
/* Marks absent in targetPath every proc that has a block in sourcePath: 0, -1, 1, 3 or 8
 * as for MergeCbf. */
SETUPSUP_API int WINAPI PruneCbf(const char* sourcePath, const char* targetPath);
/* Marks every proc absent and cuts the file after its proc map: 0, -1, 1, 3, 9 map not
 * written, 10 file not cut. */
SETUPSUP_API int WINAPI TruncateCbf(const char* targetPath);

/* Fonts and shell. Nothing is kept between calls. */

/* Adds the fonts of fontPath and, if any were added, broadcasts WM_FONTCHANGE: the
 * broadcast's result when exactly one font was added, else the number added (0 on failure).
 * The broadcast skips hung windows and waits at most 5 s for any one window. */
SETUPSUP_API int WINAPI AddFont(const char* fontPath);
/* Removes the fonts of fontPath and always broadcasts WM_FONTCHANGE: the broadcast's result. */
SETUPSUP_API int WINAPI RemoveFont(const char* fontPath);
/* Opens fontPath through the shell ("open", hidden): ShellExecuteA's value (above 32 on success). */
SETUPSUP_API int WINAPI GooseFont(const char* fontPath);
/* Starts file with its default action: ShellExecuteA's value (above 32 on success). */
SETUPSUP_API int WINAPI ShellExecuteSimple(const char* file, const char* parameters, const char* directory,
                                           int showCommand);
/* Writes the first TrueType face of the system font's character set, or "System", into
 * faceName (32 bytes): 0. */
SETUPSUP_API int WINAPI GetSystemFont(char* faceName);
/* As GetSystemFont, preferring a fixed-pitch TrueType face: 0. */
SETUPSUP_API int WINAPI GetSystemFixedFont(char* faceName);
/* The character set of the face GetSystemFont names, or 1 (DEFAULT_CHARSET) without one. */
SETUPSUP_API int WINAPI GetSystemCharset(void);

/* System information. */

/* Total physical memory in bytes, as GlobalMemoryStatus reports it. */
SETUPSUP_API int WINAPI GetPhysRAM(void);
/* Total virtual address space of the calling process in bytes. */
SETUPSUP_API int WINAPI GetVirtRAM(void);
/* Writes the user's short date into buffer (49 bytes): characters written with the NUL, or 0. */
SETUPSUP_API int WINAPI FormatDate(int year, int month, int day, char* buffer);
/* 1 when the product suite list names "Terminal Server", else 0. */
SETUPSUP_API int WINAPI QueryTerminalServer(void);
/* Writes the host's IPv4 address in dotted form into address (16 bytes): 0; 8 host name or
 * address unknown, or a null buffer; 22 Windows Sockets 1.1 unavailable (for the life of
 * the process). */
SETUPSUP_API int WINAPI GetHostIPAddr(char* address);
/* Registry maintenance. Paths are subkey paths under the given root. */

/* Copies the key sourcePath of sourceRoot, its values (each as REG_SZ of its data up to
 * the first NUL) and all its subkeys to targetPath of targetRoot: 0 on success, else the
 * Win32 error code of opening the source, creating the target or enumerating subkeys;
 * ERROR_INVALID_PARAMETER (87) for a null path. */
SETUPSUP_API int WINAPI CopyKey(HKEY sourceRoot, const char* sourcePath, HKEY targetRoot, const char* targetPath);
/* Resets to "0" the string mark "CurrentlyRegistered" of every application key ("Setup"
 * subkey) under HKEY_CURRENT_USER\startPath: the number of string marks found. */
SETUPSUP_API int WINAPI UnregisterZORBApps(const char* startPath);
/* Component registration and shared-DLL counts. */

/* Registers a type library (name ends in tlb, any case) or a COM server module: 0 on
 * success, 95 OLE not initialised, 96 type library not registered, 97 type library not
 * loaded (or path of 256 bytes or more), 98 no DllRegisterServer, 99 not loadable as a
 * module, else the module's own DllRegisterServer result (failures negative). */
SETUPSUP_API int WINAPI SelfRegisterFile(const char* path);
/* The shared-DLL count stored for fileName: the count, 10001 value unreadable, 10002 key
 * not openable. */
SETUPSUP_API int WINAPI GetFileRefCount(const char* fileName);
/* Stores count as fileName's shared-DLL count: 0, or the Win32 error of the key's open or
 * the value's write (2 when the key does not exist; it is never created). */
SETUPSUP_API int WINAPI SetFileRefCount(const char* fileName, int count);
/* Split files, time stamps and version-resource language. */

/* Appends piecePath to targetPath and gives targetPath back its three times: 0 on success,
 * -1 a file not openable (or times not restorable after the append), -5 short write,
 * -6 seek failed, -7 read of the piece failed (partial append kept, times not restored). */
SETUPSUP_API int WINAPI UnsplitFile(const char* targetPath, const char* piecePath);
/* Gives targetPath the three times of sourcePath: 0, -1 source not openable exclusively,
 * -2 target not openable exclusively for reading and writing, -3 times unreadable, -4 not set. */
SETUPSUP_API int WINAPI MatchFileDate(const char* sourcePath, const char* targetPath);
/* Low and high byte of the first translation entry's language identifier and the primary
 * language's name (buffer of at least 12 bytes): 0, or -1 with 0, 0, "Unavailable". */
SETUPSUP_API int WINAPI GetFileLanguage(const char* path, int* lowByte, int* highByte, char* name);
/* Running-instance detection. */

/* 1 while another holder has the shell's mapping "ZorbShellSync" open, else 0. */
SETUPSUP_API int WINAPI IsZORBRunning(void);
/* 1 when a process runs exeName (a file name without directory), else 0 (also on failure). */
SETUPSUP_API int WINAPI IsZORBAppRunning(const char* exeName);

#ifdef __cplusplus
}
#endif

#endif /* SETUPSUP_H */
