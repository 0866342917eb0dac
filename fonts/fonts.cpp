// Font resources: AddFont, RemoveFont and GooseFont. The first two are one
// system call each plus the WM_FONTCHANGE broadcast that tells running
// programs to re-read fonts; GooseFont opens the font file through the shell.
#include <windows.h>

#include "frame/broadcast.h"
#include "frame/shell_launch.h"
#include "frame/text.h"
#include "frame/text_api.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// The broadcast goes out whenever the file added any font, so programs hear
// of every font of a collection too; the result stays the count unless
// exactly one font was added, where it is the broadcast's result.
template <typename Char>
int AddFontFile(const Char* fontPath)
{
    int added = AddFontResourceT(fontPath);
    if (added < 1)
        return added;
    int broadcast = BroadcastToTopLevelWindows(WM_FONTCHANGE, 0, 0);
    return added == 1 ? broadcast : added;
}

// A null path adds nothing, like a missing file.
template <typename Char>
int AddFonts(const Char* fontPath)
{
    return fontPath ? AddFontFile(fontPath) : SETUPSUP_FONT_NONE_ADDED;
}

// A failed removal is not an error to the installer: the broadcast is sent
// regardless (a null path included) and its result returned.
template <typename Char>
int RemoveFonts(const Char* fontPath)
{
    if (fontPath)
        RemoveFontResourceT(fontPath);
    return BroadcastToTopLevelWindows(WM_FONTCHANGE, 0, 0);
}

constexpr TextLiteral kOpenVerb = SETUPSUP_TEXT("open");

// The verb "open", hidden: the shell's handler for font files. A null path
// is refused as a file that is not found.
template <typename Char>
int OpenFontFile(const Char* fontPath)
{
    if (!fontPath)
        return kShellFileNotFound;
    return ShellLaunch<Char>(kOpenVerb.Of<Char>(), fontPath, nullptr, nullptr, SW_HIDE);
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI AddFont(const char* fontPath) { return setupsup::AddFonts(fontPath); }

// On the Windows 95 family a path without an exact ANSI form adds nothing,
// as a null path.
extern "C" int WINAPI AddFontW(const wchar_t* fontPath)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto path) { return setupsup::AddFonts(path); }, fontPath);
}

extern "C" int WINAPI RemoveFont(const char* fontPath) { return setupsup::RemoveFonts(fontPath); }

// On the Windows 95 family a path without an exact ANSI form removes
// nothing, as a null path; the broadcast is still sent.
extern "C" int WINAPI RemoveFontW(const wchar_t* fontPath)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto path) { return setupsup::RemoveFonts(path); }, fontPath);
}

extern "C" int WINAPI GooseFont(const char* fontPath) { return setupsup::OpenFontFile(fontPath); }

// On the Windows 95 family a path without an exact ANSI form is not found,
// as a null path, and the shell is not called.
extern "C" int WINAPI GooseFontW(const wchar_t* fontPath)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto path) { return setupsup::OpenFontFile(path); }, fontPath);
}
