// setupsup-call: calls one export of setupsup.dll from the command line, for
// batch installers, support staff and diagnostics.
//
//   setupsup-call EXPORT [ARGUMENT...]     e.g. setupsup-call FormatDate 2001 12 31
//   setupsup-call --list | --help | --version
//
// The DLL is loaded by its full name in this program's own folder, as an
// installer loads the copy it brought, never from the current folder or PATH.
// Before anything is loaded the program narrows its own DLL search, since a
// copy unpacked into a Downloads folder sits beside whatever else is there.
// Exit status: 0 the export was called, 1 the DLL or the export was not
// found, 2 the command line was refused (nothing is loaded then).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "frame/system_entries.h"
#include "tools/setupsup-call/runner.h"

using namespace setupsup_call;

namespace {

constexpr wchar_t kDllName[] = L"setupsup.dll";
// The default search of a hardened process: the system folder and the
// folders added explicitly (none are), never this program's folder.
constexpr DWORD kHardenedSearch = LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS;

// The current folder leaves the DLL search (Windows XP SP1 and later), and
// the default search is limited to the system folder (Windows 8, and 7 with
// KB2533623). Both functions are found at run time, so the program still
// starts on older systems, which then search as they always did.
void HardenDllSearch()
{
    setupsup::KernelEntries kernel;
    if (!setupsup::ResolveKernelEntries(&kernel))
        return;
    if (kernel.setDllDirectoryA)
        kernel.setDllDirectoryA("");
    if (kernel.setDefaultDllDirectories)
        kernel.setDefaultDllDirectories(kHardenedSearch);
}

// The full path of setupsup.dll beside this program; empty if this
// program's own path cannot be had whole.
std::wstring DllBesideProgram()
{
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::wstring folder(path, length);
    size_t slash = folder.find_last_of(L"\\/");
    folder.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return folder + kDllName;
}

// Loads the DLL, finds the export and calls it; what failed goes to err.
int Call(const Command& command, TextWriter& out, TextWriter& err)
{
    std::wstring dllPath = DllBesideProgram();
    // No dialog box for a missing or broken DLL: the caller may be a batch file.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE dll = dllPath.empty() ? nullptr : ::LoadLibraryW(dllPath.c_str());
    if (!dll) {
        err.Line(L"setupsup-call: cannot load " + (dllPath.empty() ? std::wstring(kDllName) : dllPath) + L" (error " +
                 std::to_wstring(::GetLastError()) + L")");
        return kExitNotCalled;
    }
    int status = kExitCalled;
    FARPROC entry = ::GetProcAddress(dll, command.signature->name);
    if (entry) {
        CallAndReport(command, entry, out, err);
    } else {
        const char* name = command.signature->name;
        err.Line(L"setupsup-call: " + dllPath + L" has no export " + std::wstring(name, name + std::strlen(name)));
        status = kExitNotCalled;
    }
    ::FreeLibrary(dll);
    return status;
}

} // namespace

// The arguments as the system gives them, in UTF-16: a W export receives
// them unchanged, an ANSI export in the ANSI code page.
int wmain(int argc, wchar_t** argv)
{
    HardenDllSearch();
    TextWriter out(stdout), err(stderr);
    Command command;
    std::wstring error;
    if (!ParseCommandLine(argc - 1, argv + 1, &command, &error)) {
        err.Line(L"setupsup-call: " + error);
        return kExitUsage;
    }
    switch (command.action) {
        case Command::Action::Help:
            PrintHelp(out);
            return kExitCalled;
        case Command::Action::List:
            PrintList(out);
            return kExitCalled;
        case Command::Action::Version:
            PrintVersion(out);
            return kExitCalled;
        case Command::Action::Call:
            break;
    }
    return Call(command, out, err);
}
