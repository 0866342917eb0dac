// The one shell launch of the library: GooseFont opens a font file with the
// verb "open", ShellExecuteSimple starts a file with its default action.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "frame/text_api.h"
#include "setupsup.h"

namespace setupsup {

// What a launch of a null file gives: the shell's own value for a file that
// is not found.
inline constexpr int kShellFileNotFound = SETUPSUP_SHELL_FILE_NOT_FOUND;
static_assert(kShellFileNotFound == SE_ERR_FNF, "the shell's value");
// The shell's failure values end at SE_ERR_DLLNOTFOUND; the header says so.
static_assert(SE_ERR_DLLNOTFOUND == SETUPSUP_SHELL_LAST_ERROR, "the shell's last failure value");

// ShellExecute with no owner window, for ANSI or UTF-16 text. Its
// pseudo-handle carries the shell's result value (above 32 on success, else
// the error value), which always fits 32 bits and is returned as it is.
template <typename Char>
int ShellLaunch(const Char* verb, const Char* file, const Char* parameters, const Char* directory,
                int showCommand) noexcept
{
    HINSTANCE result = ShellExecuteT(verb, file, parameters, directory, showCommand);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

} // namespace setupsup
