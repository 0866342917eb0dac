// GetFontName's whole result for a font file on disk: the file read whole
// (shared for reading, at most kMostFontFileBytes), its name found by
// fonts/font_name.h and handed out in the caller's characters. Shared with
// the exports that install fonts, which need the registry name too.
#pragma once

#include <windows.h>

#include <cstdint>

namespace setupsup {

// The largest font file read. The file is read whole, not table by table:
// the name table of a TrueType file usually lies after its glyphs, at the
// end, so a piecewise read saves little and doubles the paths to test.
// Larger files are refused as damaged.
inline constexpr std::uint64_t kMostFontFileBytes = 64u << 20;

// The registry name of the font file path into out (at most room
// characters, NUL ended; ANSI code page bytes for char, exact UTF-16 for
// wchar_t): a SETUPSUP_FONTNAME_ code, or minus the room needed. On any
// failure out is an empty string where room > 0.
template <typename Char>
int ReadFontName(const Char* path, Char* out, DWORD room);
extern template int ReadFontName<char>(const char* path, char* out, DWORD room);
extern template int ReadFontName<wchar_t>(const wchar_t* path, wchar_t* out, DWORD room);

#ifndef _WIN64
// GetFontNameW on the Windows 95 family: the file named by an ANSI path
// (its W functions are stubs), the name still given exactly in UTF-16.
int ReadFontNameOfAnsiPath(const char* path, wchar_t* out, DWORD room);
#endif

} // namespace setupsup
