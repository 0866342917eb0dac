// Font resources: AddFont, RemoveFont and GooseFont. The first two are one
// system call each plus the WM_FONTCHANGE broadcast that tells running
// programs to re-read fonts; GooseFont opens the font file through the shell.
#include <windows.h>

#include "frame/ansi_fallback.h"
#include "frame/shell_launch.h"
#include "frame/text.h"
#include "frame/text_api.h"
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

// The broadcast goes out whenever the file added any font, so programs hear
// of every font of a collection too; the result stays the count unless
// exactly one font was added, where it is the broadcast's result.
template <typename Char>
int AddFontFile(const Char* fontPath)
{
    int added = AddFontResourceT(fontPath);
    if (added < 1)
        return added;
    int broadcast = BroadcastFontChange();
    return added == 1 ? broadcast : added;
}

constexpr TextLiteral kOpenVerb = SETUPSUP_TEXT("open");

} // namespace
} // namespace setupsup

// A null path adds nothing, like a missing file; so does, on the Windows 95
// family, a W path without an exact ANSI form.
extern "C" int WINAPI AddFont(const char* fontPath)
{
    return fontPath ? setupsup::AddFontFile(fontPath) : SETUPSUP_FONT_NONE_ADDED;
}

extern "C" int WINAPI AddFontW(const wchar_t* fontPath)
{
    if (!fontPath)
        return SETUPSUP_FONT_NONE_ADDED;
    if (!setupsup::IsWindows95Family())
        return setupsup::AddFontFile(fontPath);
    setupsup::AnsiText path(fontPath);
    return path.exact() ? setupsup::AddFontFile(path.get()) : SETUPSUP_FONT_NONE_ADDED;
}

// A failed removal is not an error to the installer: the broadcast is sent
// regardless (a null path included, and a W path that names no file) and
// its result returned.
extern "C" int WINAPI RemoveFont(const char* fontPath)
{
    if (fontPath)
        ::RemoveFontResourceA(fontPath);
    return setupsup::BroadcastFontChange();
}

extern "C" int WINAPI RemoveFontW(const wchar_t* fontPath)
{
    if (fontPath && !setupsup::IsWindows95Family()) {
        setupsup::RemoveFontResourceT(fontPath);
    } else if (fontPath) {
        setupsup::AnsiText path(fontPath);
        if (path.exact())
            ::RemoveFontResourceA(path.get());
    }
    return setupsup::BroadcastFontChange();
}

// The verb "open", hidden: the shell's handler for font files.
extern "C" int WINAPI GooseFont(const char* fontPath)
{
    if (!fontPath)
        return setupsup::kShellFileNotFound;
    return setupsup::ShellLaunch<char>(setupsup::kOpenVerb.narrow, fontPath, nullptr, nullptr, SW_HIDE);
}

extern "C" int WINAPI GooseFontW(const wchar_t* fontPath)
{
    if (!fontPath)
        return setupsup::kShellFileNotFound;
    if (!setupsup::IsWindows95Family())
        return setupsup::ShellLaunch<wchar_t>(setupsup::kOpenVerb.wide, fontPath, nullptr, nullptr, SW_HIDE);
    setupsup::AnsiText path(fontPath);
    if (!path.exact())
        return setupsup::kShellFileNotFound;
    return setupsup::ShellLaunch<char>(setupsup::kOpenVerb.narrow, path.get(), nullptr, nullptr, SW_HIDE);
}
