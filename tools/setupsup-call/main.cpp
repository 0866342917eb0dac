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

constexpr char kDllName[] = "setupsup.dll";
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
std::string DllBesideProgram()
{
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return {};
    std::string folder(path, length);
    size_t slash = folder.find_last_of("\\/");
    folder.resize(slash == std::string::npos ? 0 : slash + 1);
    return folder + kDllName;
}

// Loads the DLL, finds the export and calls it; what failed goes to stderr.
int Call(const Command& command)
{
    std::string dllPath = DllBesideProgram();
    // No dialog box for a missing or broken DLL: the caller may be a batch file.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE dll = dllPath.empty() ? nullptr : ::LoadLibraryA(dllPath.c_str());
    if (!dll) {
        std::fprintf(stderr, "setupsup-call: cannot load %s (error %lu)\n",
                     dllPath.empty() ? kDllName : dllPath.c_str(), ::GetLastError());
        return kExitNotCalled;
    }
    int status = kExitCalled;
    FARPROC entry = ::GetProcAddress(dll, command.signature->name);
    if (entry) {
        CallAndReport(command, entry, stdout, stderr);
    } else {
        std::fprintf(stderr, "setupsup-call: %s has no export %s\n", dllPath.c_str(), command.signature->name);
        status = kExitNotCalled;
    }
    ::FreeLibrary(dll);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    HardenDllSearch();
    Command command;
    std::string error;
    if (!ParseCommandLine(argc - 1, argv + 1, &command, &error)) {
        std::fprintf(stderr, "setupsup-call: %s\n", error.c_str());
        return kExitUsage;
    }
    switch (command.action) {
        case Command::Action::Help:
            PrintHelp(stdout);
            return kExitCalled;
        case Command::Action::List:
            PrintList(stdout);
            return kExitCalled;
        case Command::Action::Version:
            PrintVersion(stdout);
            return kExitCalled;
        case Command::Action::Call:
            break;
    }
    return Call(command);
}
