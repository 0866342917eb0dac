// Running-instance detection: whether the application shell runs (it holds a
// named paging-file mapping for as long as it runs), and whether any process
// runs a given executable. Process enumeration differs by system family: the
// NT family offers the process-status library, the Windows 95 family the
// kernel's tool-help snapshots. Neither is imported; both are resolved by
// name at the start of every call into the process-wide slots below. On the
// NT family a process whose memory cannot be read (a 64-bit process seen
// from WoW64, a process of another user, an elevated one) is named by its
// image path, through a kernel entry point of Vista and later resolved the
// same way.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string_view>

#include "frame/entry_points.h"
#include "frame/unique_handles.h"
#include "process/running_instance.h"
#include "setupsup.h"

namespace setupsup {

#ifdef SETUPSUP_TEST_SEAMS
EntryResolver g_resolveEntry = ::GetProcAddress;
#endif

// 1 when the process runs exeName (compared by base name), else 0.
int ProcessHasBaseName(DWORD processId, const char* exeName);

namespace {

constexpr char kShellSyncName[] = "ZorbShellSync";
constexpr DWORD kShellSyncSize = 32;

constexpr DWORD kVersionInfoSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoSize, "ANSI version record");

constexpr char kProcessStatusLibrary[] = "PSAPI.DLL";
constexpr char kKernelModule[] = "KERNEL32.DLL";
constexpr DWORD kMaxProcessIds = 4096;
constexpr DWORD kBaseNameSize = 260;
// What a process whose name cannot be read is compared as.
constexpr char kUnreadableName[] = "unknown";
constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
// PROCESS_QUERY_LIMITED_INFORMATION (Vista and later): granted for processes
// whose memory this process may not read; enough for the image path.
constexpr DWORD kImagePathAccess = 0x1000;
// Room for an image path; a longer path counts as unreadable.
constexpr DWORD kImagePathSize = 1024;

constexpr DWORD kProcessEntrySize = 296;
static_assert(sizeof(PROCESSENTRY32) == kProcessEntrySize, "ANSI process record");

using EnumProcessesFn = BOOL(WINAPI*)(DWORD* ids, DWORD bytes, DWORD* bytesFilled);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* bytesNeeded);
using GetModuleBaseNameAFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, LPSTR name, DWORD size);
using GetModuleInformationFn = BOOL(WINAPI*)(HANDLE process, HMODULE module, void* info, DWORD size);
using QueryFullProcessImageNameAFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPSTR path, DWORD* size);
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
using Process32WalkFn = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32* entry);
using Module32WalkFn = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32* entry);

// Entry-point slots, process-wide and empty at load. Each path refills its
// slots at the start of every call and reads them only within that call.
// PSAPI.DLL itself is loaded by the first NT-family call and kept for the
// life of the process (one reference): loading and freeing it at every call
// made the enumeration half as dear again as the same walk written inline.
HMODULE g_processStatusModule;
EnumProcessesFn g_enumProcesses;
EnumProcessModulesFn g_enumProcessModules;
GetModuleBaseNameAFn g_getModuleBaseNameA;
GetModuleInformationFn g_getModuleInformation;
QueryFullProcessImageNameAFn g_queryFullProcessImageNameA; // may stay empty
CreateToolhelp32SnapshotFn g_createToolhelp32Snapshot;
Process32WalkFn g_process32First;
Process32WalkFn g_process32Next;
Module32WalkFn g_module32First;
Module32WalkFn g_module32Next;

// Fills one slot from module by name; true when the entry exists.
template <typename Fn>
bool ResolveEntry(HMODULE module, const char* name, Fn* slot)
{
#ifdef SETUPSUP_TEST_SEAMS
    *slot = EntryAs<Fn>(g_resolveEntry(module, name));
#else
    *slot = FindEntry<Fn>(module, name);
#endif
    return *slot != nullptr;
}

// Empties the NT-family entry slots at the end of a call: the next call
// resolves them afresh.
void ClearProcessStatusEntries()
{
    g_enumProcesses = nullptr;
    g_enumProcessModules = nullptr;
    g_getModuleBaseNameA = nullptr;
    g_getModuleInformation = nullptr;
    g_queryFullProcessImageNameA = nullptr;
}

struct ProcessStatusScope {
    ProcessStatusScope() = default;
    ProcessStatusScope(const ProcessStatusScope&) = delete;
    ProcessStatusScope& operator=(const ProcessStatusScope&) = delete;
    ~ProcessStatusScope() { ClearProcessStatusEntries(); }
};

unsigned FoldAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

// The next character of a double-byte string, folded, and *p moved past it.
// Double-byte characters are tagged so that they never equal a single byte.
unsigned NextFoldedCharacter(const unsigned char** p)
{
    unsigned char lead = *(*p)++;
    if (!::IsDBCSLeadByteEx(CP_ACP, lead) || **p == 0)
        return FoldAscii(lead);
    char pair[2] = {static_cast<char>(lead), static_cast<char>(*(*p)++)};
    unsigned exact = 0x20000u | (static_cast<unsigned>(lead) << 8) | static_cast<unsigned char>(pair[1]);
    WCHAR wide = 0, upper = 0;
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pair, 2, &wide, 1) != 1)
        return exact;
    if (::LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, &wide, 1, &upper, 1) != 1)
        return exact;
    return 0x10000u | upper;
}

int SameSingleByteIgnoringCase(const unsigned char* a, const unsigned char* b)
{
    for (;; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b))
            return 0;
        if (*a == 0)
            return 1;
    }
}

int SameDoubleByteIgnoringCase(const unsigned char* a, const unsigned char* b)
{
    for (;;) {
        unsigned ca = NextFoldedCharacter(&a);
        unsigned cb = NextFoldedCharacter(&b);
        if (ca != cb)
            return 0;
        if (ca == 0)
            return 1;
    }
}

// The part of a path after its last backslash. A double-byte path is walked
// character by character: a trail byte may be 0x5C and is no separator.
const char* AfterLastBackslash(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p;) {
        if (::IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*p)) && p[1]) {
            p += 2;
            continue;
        }
        if (*p++ == '\\')
            base = p;
    }
    return base;
}

// Every process id the system reports, up to the first kMaxProcessIds, is
// checked in order until one runs exeName.
int AnyProcessHasBaseName(const char* exeName)
{
    DWORD ids[kMaxProcessIds];
    DWORD bytesFilled = 0;
    if (!g_enumProcesses(ids, sizeof ids, &bytesFilled))
        return 0;
    DWORD count = bytesFilled / sizeof ids[0];
    if (count > kMaxProcessIds) // never trust a count beyond the array
        count = kMaxProcessIds;
    for (DWORD i = 0; i < count; ++i)
        if (ProcessHasBaseName(ids[i], exeName))
            return 1;
    return 0;
}

} // namespace

int SameNameIgnoringCase(const char* a, const char* b)
{
    auto ua = reinterpret_cast<const unsigned char*>(a);
    auto ub = reinterpret_cast<const unsigned char*>(b);
    CPINFO info{};
    if (::GetCPInfo(CP_ACP, &info) && info.MaxCharSize >= 2)
        return SameDoubleByteIgnoringCase(ua, ub);
    return SameSingleByteIgnoringCase(ua, ub);
}

int LoadProcessStatusEntries()
{
    if (!g_processStatusModule)
        g_processStatusModule = ::LoadLibraryA(kProcessStatusLibrary);
    if (!g_processStatusModule)
        return 0;
    bool all = ResolveEntry(g_processStatusModule, "EnumProcesses", &g_enumProcesses);
    all &= ResolveEntry(g_processStatusModule, "EnumProcessModules", &g_enumProcessModules);
    all &= ResolveEntry(g_processStatusModule, "GetModuleBaseNameA", &g_getModuleBaseNameA);
    all &= ResolveEntry(g_processStatusModule, "GetModuleInformation", &g_getModuleInformation);
    return all ? 1 : 0;
}

void LoadImagePathEntry()
{
    g_queryFullProcessImageNameA = nullptr;
    HMODULE kernel = ::GetModuleHandleA(kKernelModule);
    if (kernel)
        ResolveEntry(kernel, "QueryFullProcessImageNameA", &g_queryFullProcessImageNameA);
}

int ImagePathHasBaseName(DWORD processId, const char* exeName)
{
    if (!g_queryFullProcessImageNameA)
        return 0;
    unique_handle process(::OpenProcess(kImagePathAccess, FALSE, processId));
    if (!process)
        return 0;
    char path[kImagePathSize];
    DWORD size = kImagePathSize;
    if (!g_queryFullProcessImageNameA(process.get(), 0, path, &size) || size >= kImagePathSize)
        return 0;
    path[size] = '\0';
    return SameNameIgnoringCase(AfterLastBackslash(path), exeName);
}

int ProcessHasBaseName(DWORD processId, const char* exeName)
{
    char baseName[kBaseNameSize] = {};
    std::memcpy(baseName, kUnreadableName, sizeof kUnreadableName);

    unique_handle process(::OpenProcess(kProcessAccess, FALSE, processId));
    HMODULE executable = nullptr;
    DWORD bytesNeeded = 0;
    if (!process || !g_enumProcessModules(process.get(), &executable, sizeof executable, &bytesNeeded)) {
        process.reset();
        return ImagePathHasBaseName(processId, exeName);
    }
    // When the name cannot be read, "unknown" stays and is what is compared.
    g_getModuleBaseNameA(process.get(), executable, baseName, kBaseNameSize);
    baseName[kBaseNameSize - 1] = '\0';
    return SameNameIgnoringCase(baseName, exeName);
}

int IsAppRunningNt(const char* exeName)
{
    ProcessStatusScope scope;
    if (!LoadProcessStatusEntries())
        return 0;
    LoadImagePathEntry();
    return AnyProcessHasBaseName(exeName);
}

int LoadToolHelpEntries()
{
    HMODULE kernel = ::GetModuleHandleA(kKernelModule);
    if (!kernel)
        return 0;
    bool all = ResolveEntry(kernel, "CreateToolhelp32Snapshot", &g_createToolhelp32Snapshot);
    all &= ResolveEntry(kernel, "Process32First", &g_process32First);
    all &= ResolveEntry(kernel, "Process32Next", &g_process32Next);
    all &= ResolveEntry(kernel, "Module32First", &g_module32First);
    all &= ResolveEntry(kernel, "Module32Next", &g_module32Next);
    return all ? 1 : 0;
}

int IsAppRunning9x(const char* exeName)
{
    if (!LoadToolHelpEntries())
        return 0;

    // Only the bytes a to z are raised: the system reports these paths in
    // upper case, and bytes above 0x7F are compared as they stand.
    size_t length = std::strlen(exeName);
    unique_hlocal copy(::LocalAlloc(LMEM_FIXED, length + 1));
    if (!copy)
        return 0;
    char* upper = static_cast<char*>(copy.get());
    for (size_t i = 0; i <= length; ++i)
        upper[i] = static_cast<char>(FoldAscii(static_cast<unsigned char>(exeName[i])));
    std::string_view wanted(upper, length);

    unique_hfile snapshot(g_createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = kProcessEntrySize;
    // The walk runs to the end of the snapshot even after a match.
    int found = 0;
    for (BOOL more = g_process32First(snapshot.get(), &entry); more; more = g_process32Next(snapshot.get(), &entry)) {
        std::string_view exeFile(entry.szExeFile, ::strnlen(entry.szExeFile, sizeof entry.szExeFile));
        if (exeFile.find(wanted) != std::string_view::npos)
            found = 1;
    }
    return found;
}

} // namespace setupsup

extern "C" int WINAPI IsZORBRunning(void)
{
    setupsup::unique_handle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0,
                                                         setupsup::kShellSyncSize, setupsup::kShellSyncName));
    if (!mapping)
        return 0;
    // Another holder had the object open; otherwise this probe made it, and
    // closing the handle destroys it again.
    int running = ::GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;
    return running;
}

extern "C" int WINAPI IsZORBAppRunning(const char* exeName)
{
    if (!exeName)
        return 0;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = setupsup::kVersionInfoSize;
    if (!::GetVersionExA(&version))
        return 0;
    switch (version.dwPlatformId) {
        case VER_PLATFORM_WIN32_WINDOWS:
            return setupsup::IsAppRunning9x(exeName);
        case VER_PLATFORM_WIN32_NT:
            return setupsup::IsAppRunningNt(exeName);
        default:
            return 0;
    }
}
