// Font resources and shell launch: AddFont, RemoveFont, GooseFont and
// ShellExecuteSimple. Each is one system call plus, for the font resources,
// the WM_FONTCHANGE broadcast that tells running programs to re-read fonts.
#include <windows.h>
#include <shellapi.h>

#include "setupsup.h"

namespace {

// How long the broadcast waits for any one top-level window to handle
// WM_FONTCHANGE. Windows the system already reports as hung are skipped at
// once (SMTO_ABORTIFHUNG); this bounds a window that stops responding while
// the message waits for it.
constexpr UINT kFontChangeTimeoutMs = 5000;

// What GooseFont and ShellExecuteSimple return for a null file: the shell's
// own value for a file that is not found.
constexpr int kShellFileNotFound = SE_ERR_FNF;

// Sent, not posted: the call returns once every responding top-level window
// has handled the message, so a program started right after sees the new
// fonts. A plain SendMessageA broadcast would wait for ever on one hung
// window of any program on the desktop. The result is the value the send
// reports for the broadcast (1, as SendMessageA gives when no window hangs)
// and is passed through uninterpreted.
int BroadcastFontChange()
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, kFontChangeTimeoutMs, &result);
    return static_cast<int>(result);
}

// ShellExecuteA's pseudo-handle carries the shell's result value (above 32
// on success, else the error value); it always fits 32 bits.
int ShellResult(HINSTANCE result) { return static_cast<int>(reinterpret_cast<INT_PTR>(result)); }

} // namespace

// The broadcast goes out whenever the file added any font, so programs hear
// of every font of a collection too; the result stays the count unless
// exactly one font was added, where it is the broadcast's result. A null
// path adds nothing, like a missing file.
extern "C" int WINAPI AddFont(const char* fontPath)
{
    if (!fontPath)
        return 0;
    int added = ::AddFontResourceA(fontPath);
    if (added < 1)
        return added;
    int broadcast = BroadcastFontChange();
    return added == 1 ? broadcast : added;
}

// A failed removal is not an error to the installer: the broadcast is sent
// regardless (a null path included) and its result returned.
extern "C" int WINAPI RemoveFont(const char* fontPath)
{
    if (fontPath)
        ::RemoveFontResourceA(fontPath);
    return BroadcastFontChange();
}

extern "C" int WINAPI GooseFont(const char* fontPath)
{
    if (!fontPath)
        return kShellFileNotFound;
    return ShellResult(::ShellExecuteA(nullptr, "open", fontPath, nullptr, nullptr, SW_HIDE));
}

// No verb: the file's default action, everything else as the caller gave it
// (null parameters and folder mean none, as for ShellExecuteA).
extern "C" int WINAPI ShellExecuteSimple(const char* file, const char* parameters, const char* directory,
                                         int showCommand)
{
    if (!file)
        return kShellFileNotFound;
    return ShellResult(::ShellExecuteA(nullptr, nullptr, file, parameters, directory, showCommand));
}
