// Text of either character type. The library's code that handles names is
// written once over a character type Char: char for the ANSI exports, wchar_t
// (UTF-16) for their W twins. Plain C++: the CBF core uses it too.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

namespace setupsup {

template <typename Char>
concept TextChar = std::is_same_v<Char, char> || std::is_same_v<Char, wchar_t>;

// A string literal in both character types, made by SETUPSUP_TEXT("...")
// from one ASCII literal, so that a name is written once.
struct TextLiteral {
    const char* narrow;
    const wchar_t* wide;

    template <TextChar Char>
    constexpr const Char* Of() const noexcept
    {
        if constexpr (std::is_same_v<Char, char>)
            return narrow;
        else
            return wide;
    }
};

#define SETUPSUP_TEXT(ascii) (::setupsup::TextLiteral{ascii, L"" ascii})

// The number of characters before the terminating NUL.
inline std::size_t TextLength(const char* text) noexcept { return std::char_traits<char>::length(text); }
inline std::size_t TextLength(const wchar_t* text) noexcept { return std::char_traits<wchar_t>::length(text); }

// Copies the ASCII text (with its NUL) into out, character for character.
// The caller's buffer holds it: every such text is one of the library's own.
template <TextChar Char>
void CopyAscii(Char* out, const char* ascii) noexcept
{
    for (;; ++ascii, ++out) {
        *out = static_cast<Char>(static_cast<unsigned char>(*ascii));
        if (*ascii == '\0')
            return;
    }
}

} // namespace setupsup
