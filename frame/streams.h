// Buffered streams on a file named in either character type: fopen for an
// ANSI name, _wfopen for a UTF-16 one (Windows only). Plain C++: the CBF
// core opens its files through it too.
#pragma once

#include <cstdio>

namespace setupsup {

// mode: the C library's mode string ("rb", "r+b", "a+b").
inline std::FILE* OpenStream(const char* path, const char* mode) noexcept { return std::fopen(path, mode); }

#ifdef _WIN32
inline std::FILE* OpenStream(const wchar_t* path, const char* mode) noexcept
{
    wchar_t wideMode[8] = {};
    for (int i = 0; i < 7 && mode[i] != '\0'; ++i)
        wideMode[i] = static_cast<wchar_t>(mode[i]);
    return ::_wfopen(path, wideMode);
}
#endif

} // namespace setupsup
