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
#  ifdef SETUPSUP_BUILDING_DLL
#    define SETUPSUP_API
#  else
#    define SETUPSUP_API __declspec(dllimport)
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* CBF dialog files. A null source path means "ZORBDLG.CBF" in the current
 * directory. The target's three file times are kept on success. */

/* Merges the present procs of sourcePath into targetPath: 0 on success, -1 target not
 * openable exclusively, 1 out of memory, 3 bad header or times, 4 seek, 5 tell, 6 short
 * read, 7 short write, 8 map not written. */
SETUPSUP_API int WINAPI MergeCbf(const char *sourcePath, const char *targetPath);
/* Marks absent in targetPath every proc that has a block in sourcePath: 0, -1, 1, 3 or 8
 * as for MergeCbf. */
SETUPSUP_API int WINAPI PruneCbf(const char *sourcePath, const char *targetPath);
/* Marks every proc absent and cuts the file after its proc map: 0, -1, 1, 3, 9 map not
 * written, 10 file not cut. */
SETUPSUP_API int WINAPI TruncateCbf(const char *targetPath);

/* Running-instance detection. */

/* 1 while another holder has the shell's mapping "ZorbShellSync" open, else 0. */
SETUPSUP_API int WINAPI IsZORBRunning(void);
/* 1 when a process runs exeName (a file name without directory), else 0 (also on failure). */
SETUPSUP_API int WINAPI IsZORBAppRunning(const char *exeName);

#ifdef __cplusplus
}
#endif

#endif /* SETUPSUP_H */
