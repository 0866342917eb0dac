// ShellExecuteSimple: starts a program or opens a document through the
// shell with the file's default action, as the user's double-click would.
#include <windows.h>

#include "frame/shell_launch.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// No verb: the file's default action, everything else as the caller gave it
// (null parameters and folder mean none, as for ShellExecuteA). A null file
// is refused as one that is not found.
template <typename Char>
int ShellExecuteDefault(const Char* file, const Char* parameters, const Char* directory, int showCommand)
{
    if (!file)
        return kShellFileNotFound;
    return ShellLaunch<Char>(nullptr, file, parameters, directory, showCommand);
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI ShellExecuteSimple(const char* file, const char* parameters, const char* directory,
                                         int showCommand)
{
    return setupsup::ShellExecuteDefault(file, parameters, directory, showCommand);
}

// On the Windows 95 family a text without an exact ANSI form is refused as
// a file that is not found, and nothing is started.
extern "C" int WINAPI ShellExecuteSimpleW(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                                          int showCommand)
{
    return setupsup::WideCall(
        setupsup::Refuse{setupsup::kShellFileNotFound}, [](auto... a) { return setupsup::ShellExecuteDefault(a...); },
        file, parameters, directory, showCommand);
}
