// ShellExecuteSimple: starts a program or opens a document through the
// shell with the file's default action, as the user's double-click would.
#include <windows.h>

#include "frame/shell_launch.h"
#include "setupsup.h"

// No verb: the file's default action, everything else as the caller gave it
// (null parameters and folder mean none, as for ShellExecuteA).
extern "C" int WINAPI ShellExecuteSimple(const char* file, const char* parameters, const char* directory,
                                         int showCommand)
{
    if (!file)
        return setupsup::kShellFileNotFound;
    return setupsup::ShellLaunch(nullptr, file, parameters, directory, showCommand);
}
