// GetFontName's body, for the exports that name a font file's value.
#pragma once

#include <windows.h>

namespace setupsup {

// GetFontName's whole result for the font file at path.
template <typename Char>
int ReadFontName(const Char* path, Char* out, DWORD room);

extern template int ReadFontName(const char* path, char* out, DWORD room);
extern template int ReadFontName(const wchar_t* path, wchar_t* out, DWORD room);

} // namespace setupsup
