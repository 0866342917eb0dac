// The entry points the library resolves at run time, one table per system
// DLL, each filled by its one resolver. A table lives for one call: an
// export resolves the table it needs at its start and passes it by
// reference to its helpers, so no call ever reads an entry point another
// call wrote or cleared. What outlives a call is only the loaded module
// (see kept_library.h) and, for the kernel, nothing at all.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <restartmanager.h>
#include <tlhelp32.h>

// Records of winsock.h and winsock2.h alike; the includers pick the header.
struct WSAData;
struct hostent;

namespace setupsup {

// ---- The process-status library ("PSAPI.DLL", NT family) -------------------

using EnumProcessesFn = BOOL(WINAPI*)(DWORD* ids, DWORD bytes, DWORD* bytesFilled);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* bytesNeeded);
using GetModuleInformationFn = BOOL(WINAPI*)(HANDLE process, HMODULE module, void* info, DWORD size);

// GetModuleBaseNameA for char, GetModuleBaseNameW for wchar_t.
template <typename Char>
struct ProcessStatusEntries {
    EnumProcessesFn enumProcesses = nullptr;
    EnumProcessModulesFn enumProcessModules = nullptr;
    DWORD(WINAPI* getModuleBaseName)(HANDLE process, HMODULE module, Char* name, DWORD size) = nullptr;
    GetModuleInformationFn getModuleInformation = nullptr; // required, never called
    // GetModuleFileNameExA or W: a module's full path (NT 4.0 and later);
    // optional, the path of the processes before Vista.
    DWORD(WINAPI* getModuleFileNameEx)(HANDLE process, HMODULE module, Char* path, DWORD size) = nullptr;
};

// Loads PSAPI.DLL (at the first call; kept for the life of the process) and
// resolves its entries. True when it loaded and the four required exist.
template <typename Char>
bool ResolveProcessStatusEntries(ProcessStatusEntries<Char>* entries);

// ---- The kernel (KERNEL32.DLL, always loaded) ------------------------------

using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
using Process32WalkFn = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32* entry);
using Module32WalkFn = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32* entry);
using QueryFullProcessImageNameAFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPSTR path, DWORD* size);
using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPWSTR path, DWORD* size);
using SetDllDirectoryAFn = BOOL(WINAPI*)(LPCSTR folder);
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);
using ProcessIdToSessionIdFn = BOOL(WINAPI*)(DWORD processId, DWORD* sessionId);
using GetLongPathNameAFn = DWORD(WINAPI*)(LPCSTR path, LPSTR longPath, DWORD size);
using GetLongPathNameWFn = DWORD(WINAPI*)(LPCWSTR path, LPWSTR longPath, DWORD size);
using MoveFileExAFn = BOOL(WINAPI*)(LPCSTR from, LPCSTR to, DWORD flags);
using MoveFileExWFn = BOOL(WINAPI*)(LPCWSTR from, LPCWSTR to, DWORD flags);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE process, BOOL* wow64);

struct KernelEntries {
    // Tool-help: the Windows 95 family, and the NT family from Windows 2000.
    CreateToolhelp32SnapshotFn createToolhelp32Snapshot = nullptr;
    Process32WalkFn process32First = nullptr;
    Process32WalkFn process32Next = nullptr;
    Module32WalkFn module32First = nullptr; // required, never called
    Module32WalkFn module32Next = nullptr;  // required, never called
    // Windows Vista and later.
    QueryFullProcessImageNameAFn queryFullProcessImageNameA = nullptr;
    QueryFullProcessImageNameWFn queryFullProcessImageNameW = nullptr;
    // The DLL search of a process: Windows XP SP1 and later, and Windows 8
    // (or 7 with KB2533623) and later; setupsup-call narrows its own.
    SetDllDirectoryAFn setDllDirectoryA = nullptr;
    SetDefaultDllDirectoriesFn setDefaultDllDirectories = nullptr;
    // Terminal Services (NT 4.0 Terminal Server, Windows 2000 and later).
    ProcessIdToSessionIdFn processIdToSessionId = nullptr;
    // Windows 98 and Windows 2000 and later: the long form of 8.3 names.
    GetLongPathNameAFn getLongPathNameA = nullptr;
    GetLongPathNameWFn getLongPathNameW = nullptr;
    // The NT family: the moves that replace a file and that wait for the
    // next restart (the Windows 95 family has none that works: it writes
    // WININIT.INI instead).
    MoveFileExAFn moveFileExA = nullptr;
    MoveFileExWFn moveFileExW = nullptr;
    // Windows XP SP2, Server 2003 SP1 and later: whether a process runs
    // under WoW64 (a system without it runs none).
    IsWow64ProcessFn isWow64Process = nullptr;
};

// Resolves every kernel entry the loaded KERNEL32.DLL has; what it lacks
// stays null. False when the kernel module itself is not found.
bool ResolveKernelEntries(KernelEntries* entries);

// True when all five tool-help entries were resolved.
bool HasToolHelp(const KernelEntries& entries);

// The kernel's image-path query for the character type.
inline QueryFullProcessImageNameAFn ImagePathQuery(const KernelEntries& kernel, char) noexcept
{
    return kernel.queryFullProcessImageNameA;
}
inline QueryFullProcessImageNameWFn ImagePathQuery(const KernelEntries& kernel, wchar_t) noexcept
{
    return kernel.queryFullProcessImageNameW;
}

// The kernel's long-path expansion for the character type.
inline GetLongPathNameAFn LongPathQuery(const KernelEntries& kernel, char) noexcept { return kernel.getLongPathNameA; }
inline GetLongPathNameWFn LongPathQuery(const KernelEntries& kernel, wchar_t) noexcept
{
    return kernel.getLongPathNameW;
}

// ---- Security (ADVAPI32.DLL, imported, so always loaded) -------------------

using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE process, DWORD access, HANDLE* token);
using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE token, TOKEN_INFORMATION_CLASS kind, void* data, DWORD size,
                                            DWORD* needed);
using EqualSidFn = BOOL(WINAPI*)(PSID a, PSID b);

// The NT family's token calls; the Windows 95 family exports none that work.
struct SecurityEntries {
    OpenProcessTokenFn openProcessToken = nullptr;
    GetTokenInformationFn getTokenInformation = nullptr;
    EqualSidFn equalSid = nullptr;
};

// Resolves the three entries of the loaded ADVAPI32.DLL. True when all exist.
bool ResolveSecurityEntries(SecurityEntries* entries);

// ---- The predefined-key redirect (ADVAPI32.DLL, imported) ------------------

using RegOverridePredefKeyFn = LONG(WINAPI*)(HKEY predefined, HKEY replacement);
using RegOpenCurrentUserFn = LONG(WINAPI*)(REGSAM access, HKEY* key);

// Windows 2000 and later: neither the Windows 95 family nor NT 4.0 has them.
struct RegistryRedirectEntries {
    RegOverridePredefKeyFn overridePredefKey = nullptr;
    RegOpenCurrentUserFn openCurrentUser = nullptr;
};

// Resolves both entries of the loaded ADVAPI32.DLL. True when both exist.
bool ResolveRegistryRedirectEntries(RegistryRedirectEntries* entries);

// ---- OLE Automation (OLEAUT32.DLL, imported) -------------------------------

using LoadTypeLibExFn = HRESULT(WINAPI*)(LPCOLESTR path, REGKIND kind, ITypeLib** typeLib);
using UnRegisterTypeLibFn = HRESULT(WINAPI*)(REFGUID id, WORD major, WORD minor, LCID lcid, SYSKIND kind);
using RegisterTypeLibForUserFn = HRESULT(WINAPI*)(ITypeLib* typeLib, OLECHAR* path, OLECHAR* helpFolder);

// The type-library calls newer than the imported LoadTypeLib and
// RegisterTypeLib: the load without registering and the unregistering (the
// documentation names Windows 2000), and the per-user pair (Windows Vista and
// later; UnRegisterTypeLibForUser takes UnRegisterTypeLib's arguments).
struct AutomationEntries {
    LoadTypeLibExFn loadTypeLibEx = nullptr;
    UnRegisterTypeLibFn unRegisterTypeLib = nullptr;
    RegisterTypeLibForUserFn registerTypeLibForUser = nullptr;
    UnRegisterTypeLibFn unRegisterTypeLibForUser = nullptr;
};

// Resolves every entry the loaded OLEAUT32.DLL has; what it lacks stays null.
void ResolveAutomationEntries(AutomationEntries* entries);

// ---- The Restart Manager ("rstrtmgr.dll", Windows Vista and later) ---------

using RmStartSessionFn = DWORD(WINAPI*)(DWORD* session, DWORD flags, WCHAR* key);
using RmEndSessionFn = DWORD(WINAPI*)(DWORD session);
using RmRegisterResourcesFn = DWORD(WINAPI*)(DWORD session, UINT files, const WCHAR** fileNames, UINT processes,
                                             RM_UNIQUE_PROCESS* processList, UINT services, const WCHAR** serviceNames);
using RmGetListFn = DWORD(WINAPI*)(DWORD session, UINT* needed, UINT* count, RM_PROCESS_INFO* processes,
                                   DWORD* rebootReasons);

struct RestartManagerEntries {
    RmStartSessionFn startSession = nullptr;
    RmEndSessionFn endSession = nullptr;
    RmRegisterResourcesFn registerResources = nullptr;
    RmGetListFn getList = nullptr;
};

// Loads rstrtmgr.dll from the system folder (at the first call; kept for
// the life of the process) and resolves its four entries. False before
// Vista, or when any is missing.
bool ResolveRestartManagerEntries(RestartManagerEntries* entries);
// The kernel's move for the character type.
inline MoveFileExAFn FileMove(const KernelEntries& kernel, char) noexcept { return kernel.moveFileExA; }
inline MoveFileExWFn FileMove(const KernelEntries& kernel, wchar_t) noexcept { return kernel.moveFileExW; }

// ---- The shell's folders (SHELL32.DLL, imported, so always loaded) ---------

// SHGetFolderPathA for char, SHGetFolderPathW for wchar_t: Windows 2000, Me
// and later (earlier systems have it only in a redistributable shfolder.dll,
// which is not looked for).
template <typename Char>
struct ShellFolderEntries {
    HRESULT(WINAPI* getFolderPath)(HWND owner, int folder, HANDLE token, DWORD flags, Char* path) = nullptr;
};

// Resolves the entry of the loaded SHELL32.DLL for Char. True when it exists.
template <typename Char>
bool ResolveShellFolderEntries(ShellFolderEntries<Char>* entries);

// ---- Version information ("version.dll") -----------------------------------

// The A functions for char, the W functions for wchar_t.
template <typename Char>
struct VersionEntries {
    DWORD(WINAPI* getFileVersionInfoSize)(const Char* path, DWORD* handle) = nullptr;
    BOOL(WINAPI* getFileVersionInfo)(const Char* path, DWORD handle, DWORD size, void* data) = nullptr;
    BOOL(WINAPI* verQueryValue)(const void* block, const Char* subBlock, void** value, UINT* length) = nullptr;
};

// Loads version.dll (at the first call; kept for the life of the process)
// and resolves its three entries for Char. True when it loaded and all three
// exist.
template <typename Char>
bool ResolveVersionEntries(VersionEntries<Char>* entries);

// ---- Windows Sockets 1.1 ("wsock32.dll") -----------------------------------

using StartupFn = int(WINAPI*)(WORD version, WSAData* data);
using CleanupFn = int(WINAPI*)();
using GetHostNameFn = int(WINAPI*)(char* name, int length);
using InetAddrFn = unsigned long(WINAPI*)(const char* text);
using GetHostByAddrFn = hostent*(WINAPI*)(const char* address, int length, int family);
using GetHostByNameFn = hostent*(WINAPI*)(const char* name);
using NtohlFn = unsigned long(WINAPI*)(unsigned long value);

struct SocketEntries {
    StartupFn startup = nullptr;
    CleanupFn cleanup = nullptr;
    GetHostNameFn gethostname = nullptr;
    InetAddrFn inetAddr = nullptr;
    GetHostByAddrFn gethostbyaddr = nullptr;
    GetHostByNameFn gethostbyname = nullptr;
    NtohlFn ntohl = nullptr;
};

// Loads wsock32.dll (at the first call; never freed) and resolves every
// entry it has; what it lacks stays null. False when it cannot be loaded.
bool ResolveSocketEntries(SocketEntries* entries);

} // namespace setupsup
