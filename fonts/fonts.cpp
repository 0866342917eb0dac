// Font resources: AddFont, RemoveFont and GooseFont. The first two are one
// system call each plus the WM_FONTCHANGE broadcast that tells running
// programs to re-read fonts; GooseFont opens the font file through the shell.
#include <windows.h>

#include "frame/shell_launch.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// How long the broadcast waits for any one top-level window to handle
// WM_FONTCHANGE. Windows the system already reports as hung are skipped at
// once (SMTO_ABORTIFHUNG); this bounds a window that stops responding while
// the message waits for it.
constexpr UINT kFontChangeTimeoutMs = 5000;

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

} // namespace
} // namespace setupsup

// The broadcast goes out whenever the file added any font, so programs hear
// of every font of a collection too; the result stays the count unless
// exactly one font was added, where it is the broadcast's result. A null
// path adds nothing, like a missing file.
extern "C" int WINAPI AddFont(const char* fontPath)
{
    if (!fontPath)
        return SETUPSUP_FONT_NONE_ADDED;
    int added = ::AddFontResourceA(fontPath);
    if (added < 1)
        return added;
    int broadcast = setupsup::BroadcastFontChange();
    return added == 1 ? broadcast : added;
}

// A failed removal is not an error to the installer: the broadcast is sent
// regardless (a null path included) and its result returned.
extern "C" int WINAPI RemoveFont(const char* fontPath)
{
    if (fontPath)
        ::RemoveFontResourceA(fontPath);
    return setupsup::BroadcastFontChange();
}

// The verb "open", hidden: the shell's handler for font files.
extern "C" int WINAPI GooseFont(const char* fontPath)
{
    if (!fontPath)
        return setupsup::kShellFileNotFound;
    return setupsup::ShellLaunch("open", fontPath, nullptr, nullptr, SW_HIDE);
}
