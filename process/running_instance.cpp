// Running-instance detection: whether the application shell runs (it holds a
// named paging-file mapping for as long as it runs), and whether any process
// runs a given executable. Process enumeration differs by system family: the
// NT family offers the process-status library, the Windows 95 family the
// kernel's tool-help snapshots. Neither is imported; each call resolves the
// entry points it uses into tables of its own (frame/system_entries.h). On
// the NT family a process whose memory cannot be read (a 64-bit process seen
// from WoW64, a process of another user, an elevated one) is named by its
// image path, through a kernel entry point of Vista and later resolved the
// same way.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string_view>
#include <type_traits>

#include "frame/system_entries.h"
#include "frame/text.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "process/running_instance.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr char kShellSyncName[] = "ZorbShellSync";
// What opening the shell's mapping asks for: the rights a read-only create
// of a mapping of that name asks for when the object already exists, so
// that a mapping the shell made readable to this user counts and one it
// made unreadable does not, as when the probe created it.
constexpr DWORD kShellSyncAccess = STANDARD_RIGHTS_REQUIRED | SECTION_QUERY | SECTION_MAP_READ;

constexpr DWORD kVersionInfoSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoSize, "ANSI version record");

constexpr DWORD kMaxProcessIds = 4096;
constexpr DWORD kBaseNameSize = 260;
// What a process whose name cannot be read is compared as.
constexpr TextLiteral kUnreadableName = SETUPSUP_TEXT("unknown");
constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
// PROCESS_QUERY_LIMITED_INFORMATION (Vista and later): granted for processes
// whose memory this process may not read; enough for the image path.
constexpr DWORD kImagePathAccess = 0x1000;
// Room for an image path; a longer path counts as unreadable.
constexpr DWORD kImagePathSize = 1024;

#ifndef _WIN64
constexpr DWORD kProcessEntrySize = 296;
static_assert(sizeof(PROCESSENTRY32) == kProcessEntrySize, "ANSI process record");
#endif

unsigned FoldAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

// A UTF-16 code unit raised to upper case by the system's case table, as the
// file system compares names (a surrogate stands for itself).
wchar_t FoldWide(wchar_t c)
{
    return static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(::CharUpperW(reinterpret_cast<LPWSTR>(c))));
}

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

bool SameSingleByteIgnoringCase(const unsigned char* a, const unsigned char* b)
{
    for (;; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b))
            return false;
        if (*a == 0)
            return true;
    }
}

bool SameDoubleByteIgnoringCase(const unsigned char* a, const unsigned char* b)
{
    for (;;) {
        unsigned ca = NextFoldedCharacter(&a);
        unsigned cb = NextFoldedCharacter(&b);
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
}

// The part of a path after its last backslash. A double-byte path is walked
// character by character: a trail byte may be 0x5C and is no separator.
// (No UTF-16 code unit of another character is 0x5C, so a UTF-16 path needs
// no such care.)
const wchar_t* AfterLastBackslash(const wchar_t* path)
{
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\')
            base = p + 1;
    return base;
}

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

// Names a process whose modules cannot be listed by its image path (Vista
// and later); before Vista such a process does not match.
template <typename Char>
bool ImagePathHasBaseName(const KernelEntries& kernel, DWORD processId, const Char* exeName)
{
    const auto query = ImagePathQuery(kernel, Char{});
    if (!query)
        return false;
    unique_handle process(::OpenProcess(kImagePathAccess, FALSE, processId));
    if (!process)
        return false;
    Char path[kImagePathSize];
    DWORD size = kImagePathSize;
    if (!query(process.get(), 0, path, &size) || size >= kImagePathSize)
        return false;
    path[size] = 0;
    return SameNameIgnoringCase(AfterLastBackslash(static_cast<const Char*>(path)), exeName);
}

// Every process id the system reports, up to the first kMaxProcessIds, is
// checked in order until one runs exeName.
template <typename Char>
bool AnyProcessHasBaseName(const NtEntries<Char>& entries, const Char* exeName)
{
    DWORD ids[kMaxProcessIds];
    DWORD bytesFilled = 0;
    if (!entries.status.enumProcesses(ids, sizeof ids, &bytesFilled))
        return false;
    DWORD count = bytesFilled / sizeof ids[0];
    if (count > kMaxProcessIds) // never trust a count beyond the array
        count = kMaxProcessIds;
    for (DWORD i = 0; i < count; ++i)
        if (ProcessHasBaseName(entries, ids[i], exeName))
            return true;
    return false;
}

} // namespace

bool SameNameIgnoringCase(const wchar_t* a, const wchar_t* b)
{
    for (;; ++a, ++b) {
        if (FoldWide(*a) != FoldWide(*b))
            return false;
        if (*a == L'\0')
            return true;
    }
}

bool SameNameIgnoringCase(const char* a, const char* b)
{
    auto ua = reinterpret_cast<const unsigned char*>(a);
    auto ub = reinterpret_cast<const unsigned char*>(b);
    CPINFO info{};
    if (::GetCPInfo(CP_ACP, &info) && info.MaxCharSize >= 2)
        return SameDoubleByteIgnoringCase(ua, ub);
    return SameSingleByteIgnoringCase(ua, ub);
}

template <typename Char>
bool ProcessHasBaseName(const NtEntries<Char>& entries, DWORD processId, const Char* exeName)
{
    Char baseName[kBaseNameSize] = {};
    CopyAscii(baseName, kUnreadableName.narrow);

    unique_handle process(::OpenProcess(kProcessAccess, FALSE, processId));
    HMODULE executable = nullptr;
    DWORD bytesNeeded = 0;
    if (!process || !entries.status.enumProcessModules(process.get(), &executable, sizeof executable, &bytesNeeded)) {
        process.reset();
        return ImagePathHasBaseName(entries.kernel, processId, exeName);
    }
    // When the name cannot be read, "unknown" stays and is what is compared.
    entries.status.getModuleBaseName(process.get(), executable, baseName, kBaseNameSize);
    baseName[kBaseNameSize - 1] = 0;
    return SameNameIgnoringCase(static_cast<const Char*>(baseName), exeName);
}

template bool ProcessHasBaseName(const NtEntries<char>&, DWORD, const char*);
template bool ProcessHasBaseName(const NtEntries<wchar_t>&, DWORD, const wchar_t*);

template <typename Char>
bool IsAppRunningNt(const Char* exeName)
{
    NtEntries<Char> entries;
    if (!ResolveProcessStatusEntries(&entries.status))
        return false;
    ResolveKernelEntries(&entries.kernel); // only the image path is taken from it, and may be missing
    return AnyProcessHasBaseName(entries, exeName);
}

template bool IsAppRunningNt(const char*);
template bool IsAppRunningNt(const wchar_t*);

#ifndef _WIN64
bool UpperName9x(const char* exeName, unique_hlocal* copy, std::string_view* wanted)
{
    // Only the bytes a to z are raised: the system reports these paths in
    // upper case, and bytes above 0x7F are compared as they stand.
    size_t length = std::strlen(exeName);
    copy->reset(::LocalAlloc(LMEM_FIXED, length + 1));
    if (!*copy)
        return false;
    char* upper = static_cast<char*>(copy->get());
    for (size_t i = 0; i <= length; ++i)
        upper[i] = static_cast<char>(FoldAscii(static_cast<unsigned char>(exeName[i])));
    *wanted = std::string_view(upper, length);
    return true;
}

bool ExeFileHasName9x(const char* exeFile, size_t size, std::string_view wanted)
{
    return std::string_view(exeFile, ::strnlen(exeFile, size)).find(wanted) != std::string_view::npos;
}

// The Windows 95 family runs no 64-bit code: the 64-bit build has no such path.
bool IsAppRunning9x(const char* exeName)
{
    KernelEntries kernel;
    if (!ResolveKernelEntries(&kernel) || !HasToolHelp(kernel))
        return false;

    unique_hlocal copy;
    std::string_view wanted;
    if (!UpperName9x(exeName, &copy, &wanted))
        return false;

    unique_hfile snapshot(kernel.createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = kProcessEntrySize;
    // The walk runs to the end of the snapshot even after a match.
    bool found = false;
    for (BOOL more = kernel.process32First(snapshot.get(), &entry); more;
         more = kernel.process32Next(snapshot.get(), &entry)) {
        if (ExeFileHasName9x(entry.szExeFile, sizeof entry.szExeFile, wanted))
            found = true;
    }
    return found;
}
#endif

} // namespace setupsup

// Opens the shell's mapping and never creates it: a probe that created the
// object while nobody held it would make a second probe running at the same
// moment (another thread, another installer) or the shell starting then see
// it and take the shell for running.
extern "C" int WINAPI IsZORBRunning(void)
{
    setupsup::unique_handle mapping(::OpenFileMappingA(setupsup::kShellSyncAccess, FALSE, setupsup::kShellSyncName));
    return mapping ? SETUPSUP_RUNNING : SETUPSUP_NOT_RUNNING;
}

namespace setupsup {
namespace {

// The system family, as GetVersionExA tells it; 0 when it cannot.
DWORD PlatformId()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = kVersionInfoSize;
    return ::GetVersionExA(&version) ? version.dwPlatformId : 0;
}

// Whether a process runs exeName, by the walk of the system's family. A
// null name runs in no process. UTF-16 names reach the Windows 95 family's
// walk only converted (frame/wide_call.h), so that walk is char's alone.
template <typename Char>
int ReportAppRunning(const Char* exeName)
{
    if (!exeName)
        return SETUPSUP_NOT_RUNNING;
    bool running = false;
    switch (PlatformId()) {
#ifndef _WIN64
        case VER_PLATFORM_WIN32_WINDOWS:
            if constexpr (std::is_same_v<Char, char>)
                running = IsAppRunning9x(exeName);
            break;
#endif
        case VER_PLATFORM_WIN32_NT:
            running = IsAppRunningNt(exeName);
            break;
        default:
            break;
    }
    return running ? SETUPSUP_RUNNING : SETUPSUP_NOT_RUNNING;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI IsZORBAppRunning(const char* exeName) { return setupsup::ReportAppRunning(exeName); }

// Compares UTF-16 base names on the NT family, folding every letter the
// system's case table folds. On the Windows 95 family the name is converted
// to the ANSI code page and searched as the ANSI export searches it; a name
// without an exact ANSI form runs in no process there, as a null name.
extern "C" int WINAPI IsZORBAppRunningW(const wchar_t* exeName)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto name) { return setupsup::ReportAppRunning(name); }, exeName);
}
