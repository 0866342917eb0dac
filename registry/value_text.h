// The text of a registry value as the registry hands it out: data of a given
// number of bytes that need not end in a NUL, and for a UTF-16 value need
// not even hold whole characters. Plain C++ over a character type (char, or
// a 16-bit unit: wchar_t on Windows), so that the fuzz target reads it too.
#pragma once

#include <cstddef>
#include <cstring>

namespace setupsup {

// The characters before the value's first NUL, looked for only among the
// whole characters within bytes: the registry's data is never read past.
template <typename Char>
std::size_t ValueTextLength(const unsigned char* data, std::size_t bytes) noexcept
{
    const std::size_t chars = bytes / sizeof(Char);
    for (std::size_t i = 0; i < chars; ++i) {
        Char c;
        std::memcpy(&c, data + i * sizeof(Char), sizeof(Char));
        if (c == 0)
            return i;
    }
    return chars;
}

// True when the value's text (within bytes) is exactly the one character
// c: nothing after it, or a NUL right after it.
template <typename Char>
bool ValueTextIs(const unsigned char* data, std::size_t bytes, Char c) noexcept
{
    if (ValueTextLength<Char>(data, bytes) != 1)
        return false;
    Char first;
    std::memcpy(&first, data, sizeof(Char));
    return first == c;
}

} // namespace setupsup
