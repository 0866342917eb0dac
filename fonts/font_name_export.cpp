// GetFontName and its W twin: the registry name of a font file
// (fonts/font_name_file.h).
#include <windows.h>

#include "fonts/font_name_file.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// The W twin's call: on the Windows 95 family the converted path, the name
// still exact; elsewhere the template's own.
struct WideFontNameCall {
    wchar_t* out;
    DWORD room;
    int operator()(const wchar_t* path) const { return ReadFontName(path, out, room); }
#ifndef _WIN64
    int operator()(const char* path) const { return ReadFontNameOfAnsiPath(path, out, room); }
#endif
};

} // namespace
} // namespace setupsup

// The name of the font file path as the Fonts registry key holds it, in the
// ANSI code page: SETUPSUP_FONTNAME_OK, a failure, or minus the room needed.
extern "C" int WINAPI GetFontName(const char* path, char* out, DWORD room)
{
    return setupsup::ReadFontName(path, out, room);
}

// On the Windows 95 family a path without an exact ANSI form names no file:
// it is refused as a null path is.
extern "C" int WINAPI GetFontNameW(const wchar_t* path, wchar_t* out, DWORD room)
{
    return setupsup::WideCall(setupsup::kAsNull, setupsup::WideFontNameCall{out, room}, path);
}
