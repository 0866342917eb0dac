// Font resources and shell launch: AddFont, RemoveFont, GooseFont and
// ShellExecuteSimple. Each is one system call plus, for the font resources,
// the WM_FONTCHANGE broadcast that tells running programs to re-read fonts.
#include <windows.h>
#include <shellapi.h>

#include "setupsup.h"

// Sent, not posted: the call returns once every top-level window has handled
// the message, so a program started right after sees the new fonts. The
// result is the platform's and is passed through uninterpreted.
static int BroadcastFontChange() { return static_cast<int>(::SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0)); }

// ShellExecuteA's pseudo-handle carries the shell's result value (above 32
// on success, else the error value); it always fits 32 bits.
static int ShellResult(HINSTANCE result) { return static_cast<int>(reinterpret_cast<INT_PTR>(result)); }

// The broadcast goes out whenever the file added any font, so programs hear
// of every font of a collection too; the result stays the count unless
// exactly one font was added, where it is the broadcast's result.
extern "C" int WINAPI AddFont(const char* fontPath)
{
    int added = ::AddFontResourceA(fontPath);
    if (added < 1)
        return added;
    int broadcast = BroadcastFontChange();
    return added == 1 ? broadcast : added;
}

// A failed removal is not an error to the installer: the broadcast is sent
// regardless and its result returned.
extern "C" int WINAPI RemoveFont(const char* fontPath)
{
    ::RemoveFontResourceA(fontPath);
    return BroadcastFontChange();
}

extern "C" int WINAPI GooseFont(const char* fontPath)
{
    return ShellResult(::ShellExecuteA(nullptr, "open", fontPath, nullptr, nullptr, SW_HIDE));
}

// No verb: the file's default action, everything else as the caller gave it.
extern "C" int WINAPI ShellExecuteSimple(const char* file, const char* parameters, const char* directory,
                                         int showCommand)
{
    return ShellResult(::ShellExecuteA(nullptr, nullptr, file, parameters, directory, showCommand));
}
