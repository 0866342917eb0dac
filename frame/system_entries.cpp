#include "frame/system_entries.h"

#include "frame/entry_points.h"
#include "frame/kept_library.h"

namespace setupsup {

#ifdef SETUPSUP_TEST_SEAMS
EntryResolver g_resolveEntry = ::GetProcAddress;
#endif

namespace {

constexpr char kKernelModule[] = "KERNEL32.DLL";

// Loaded by the first call that needs them and kept: loading and freeing
// PSAPI.DLL at every call made the enumeration half as dear again as the
// same walk written inline, and Windows Sockets stays started once found
// usable, so its library must stay loaded.
constinit KeptLibrary g_processStatus("psapi.dll");
constinit KeptLibrary g_sockets("wsock32.dll");
// Not imported: it is no known DLL, so an import would be looked for beside
// the program and a DLL of that name there would run with the library.
constinit KeptLibrary g_version("version.dll");
// Vista and later; looked for only by the exports that ask who uses a file.
constinit KeptLibrary g_restartManager("rstrtmgr.dll");
constexpr char kSecurityModule[] = "ADVAPI32.DLL";
constexpr char kShellModule[] = "SHELL32.DLL";
constexpr char kAutomationModule[] = "OLEAUT32.DLL";

// Fills *slot with module's entry name; true when it exists.
template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* slot)
{
    *slot = FindEntry<Fn>(module, name);
    return *slot != nullptr;
}

} // namespace

template <typename Char>
bool ResolveProcessStatusEntries(ProcessStatusEntries<Char>* entries)
{
    *entries = ProcessStatusEntries<Char>{};
    HMODULE module = g_processStatus.Get();
    if (!module)
        return false;
    bool all = Resolve(module, "EnumProcesses", &entries->enumProcesses);
    all &= Resolve(module, "EnumProcessModules", &entries->enumProcessModules);
    all &= Resolve(module, sizeof(Char) > 1 ? "GetModuleBaseNameW" : "GetModuleBaseNameA", &entries->getModuleBaseName);
    all &= Resolve(module, "GetModuleInformation", &entries->getModuleInformation);
    Resolve(module, sizeof(Char) > 1 ? "GetModuleFileNameExW" : "GetModuleFileNameExA", &entries->getModuleFileNameEx);
    return all;
}

template bool ResolveProcessStatusEntries(ProcessStatusEntries<char>*);
template bool ResolveProcessStatusEntries(ProcessStatusEntries<wchar_t>*);

bool ResolveKernelEntries(KernelEntries* entries)
{
    *entries = KernelEntries{};
    HMODULE kernel = ::GetModuleHandleA(kKernelModule);
    if (!kernel)
        return false;
    Resolve(kernel, "CreateToolhelp32Snapshot", &entries->createToolhelp32Snapshot);
    Resolve(kernel, "Process32First", &entries->process32First);
    Resolve(kernel, "Process32Next", &entries->process32Next);
    Resolve(kernel, "Module32First", &entries->module32First);
    Resolve(kernel, "Module32Next", &entries->module32Next);
    Resolve(kernel, "QueryFullProcessImageNameA", &entries->queryFullProcessImageNameA);
    Resolve(kernel, "QueryFullProcessImageNameW", &entries->queryFullProcessImageNameW);
    Resolve(kernel, "SetDllDirectoryA", &entries->setDllDirectoryA);
    Resolve(kernel, "SetDefaultDllDirectories", &entries->setDefaultDllDirectories);
    Resolve(kernel, "ProcessIdToSessionId", &entries->processIdToSessionId);
    Resolve(kernel, "GetLongPathNameA", &entries->getLongPathNameA);
    Resolve(kernel, "GetLongPathNameW", &entries->getLongPathNameW);
    Resolve(kernel, "MoveFileExA", &entries->moveFileExA);
    Resolve(kernel, "MoveFileExW", &entries->moveFileExW);
    Resolve(kernel, "IsWow64Process", &entries->isWow64Process);
    return true;
}

bool ResolveSecurityEntries(SecurityEntries* entries)
{
    *entries = SecurityEntries{};
    HMODULE module = ::GetModuleHandleA(kSecurityModule);
    bool all = Resolve(module, "OpenProcessToken", &entries->openProcessToken);
    all &= Resolve(module, "GetTokenInformation", &entries->getTokenInformation);
    all &= Resolve(module, "EqualSid", &entries->equalSid);
    return all;
}

template <typename Char>
bool ResolveShellFolderEntries(ShellFolderEntries<Char>* entries)
{
    *entries = ShellFolderEntries<Char>{};
    HMODULE module = ::GetModuleHandleA(kShellModule);
    return Resolve(module, sizeof(Char) > 1 ? "SHGetFolderPathW" : "SHGetFolderPathA", &entries->getFolderPath);
}

template bool ResolveShellFolderEntries(ShellFolderEntries<char>*);
template bool ResolveShellFolderEntries(ShellFolderEntries<wchar_t>*);

bool ResolveRegistryRedirectEntries(RegistryRedirectEntries* entries)
{
    *entries = RegistryRedirectEntries{};
    HMODULE module = ::GetModuleHandleA(kSecurityModule);
    bool all = Resolve(module, "RegOverridePredefKey", &entries->overridePredefKey);
    all &= Resolve(module, "RegOpenCurrentUser", &entries->openCurrentUser);
    return all;
}

void ResolveAutomationEntries(AutomationEntries* entries)
{
    *entries = AutomationEntries{};
    HMODULE module = ::GetModuleHandleA(kAutomationModule);
    Resolve(module, "LoadTypeLibEx", &entries->loadTypeLibEx);
    Resolve(module, "UnRegisterTypeLib", &entries->unRegisterTypeLib);
    Resolve(module, "RegisterTypeLibForUser", &entries->registerTypeLibForUser);
    Resolve(module, "UnRegisterTypeLibForUser", &entries->unRegisterTypeLibForUser);
}

bool ResolveRestartManagerEntries(RestartManagerEntries* entries)
{
    *entries = RestartManagerEntries{};
    HMODULE module = g_restartManager.Get();
    if (!module)
        return false;
    bool all = Resolve(module, "RmStartSession", &entries->startSession);
    all &= Resolve(module, "RmEndSession", &entries->endSession);
    all &= Resolve(module, "RmRegisterResources", &entries->registerResources);
    all &= Resolve(module, "RmGetList", &entries->getList);
    return all;
}

bool HasToolHelp(const KernelEntries& entries)
{
    return entries.createToolhelp32Snapshot && entries.process32First && entries.process32Next &&
           entries.module32First && entries.module32Next;
}

template <typename Char>
bool ResolveVersionEntries(VersionEntries<Char>* entries)
{
    constexpr bool kWide = sizeof(Char) > 1;
    *entries = VersionEntries<Char>{};
    HMODULE module = g_version.Get();
    if (!module)
        return false;
    bool all = Resolve(module, kWide ? "GetFileVersionInfoSizeW" : "GetFileVersionInfoSizeA",
                       &entries->getFileVersionInfoSize);
    all &= Resolve(module, kWide ? "GetFileVersionInfoW" : "GetFileVersionInfoA", &entries->getFileVersionInfo);
    all &= Resolve(module, kWide ? "VerQueryValueW" : "VerQueryValueA", &entries->verQueryValue);
    return all;
}

template bool ResolveVersionEntries(VersionEntries<char>*);
template bool ResolveVersionEntries(VersionEntries<wchar_t>*);

bool ResolveSocketEntries(SocketEntries* entries)
{
    *entries = SocketEntries{};
    HMODULE module = g_sockets.Get();
    if (!module)
        return false;
    Resolve(module, "WSAStartup", &entries->startup);
    Resolve(module, "WSACleanup", &entries->cleanup);
    Resolve(module, "gethostname", &entries->gethostname);
    Resolve(module, "inet_addr", &entries->inetAddr);
    Resolve(module, "gethostbyaddr", &entries->gethostbyaddr);
    Resolve(module, "gethostbyname", &entries->gethostbyname);
    Resolve(module, "ntohl", &entries->ntohl);
    return true;
}

} // namespace setupsup
