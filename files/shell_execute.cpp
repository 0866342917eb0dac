// ShellExecuteSimple: starts a program or opens a document through the
// shell with the file's default action, as the user's double-click would.
#include <windows.h>

#include "frame/ansi_fallback.h"
#include "frame/shell_launch.h"
#include "setupsup.h"

// No verb: the file's default action, everything else as the caller gave it
// (null parameters and folder mean none, as for ShellExecuteA).
extern "C" int WINAPI ShellExecuteSimple(const char* file, const char* parameters, const char* directory,
                                         int showCommand)
{
    if (!file)
        return setupsup::kShellFileNotFound;
    return setupsup::ShellLaunch<char>(nullptr, file, parameters, directory, showCommand);
}

// On the Windows 95 family a text without an exact ANSI form is refused as
// a file that is not found, and nothing is started.
extern "C" int WINAPI ShellExecuteSimpleW(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                                          int showCommand)
{
    if (!file)
        return setupsup::kShellFileNotFound;
    if (!setupsup::IsWindows95Family())
        return setupsup::ShellLaunch<wchar_t>(nullptr, file, parameters, directory, showCommand);
    setupsup::AnsiText ansiFile(file), ansiParameters(parameters), ansiDirectory(directory);
    if (!ansiFile.exact() || !ansiParameters.exact() || !ansiDirectory.exact())
        return setupsup::kShellFileNotFound;
    return setupsup::ShellLaunch<char>(nullptr, ansiFile.get(), ansiParameters.get(), ansiDirectory.get(), showCommand);
}
