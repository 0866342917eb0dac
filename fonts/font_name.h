// The name Windows gives a font file in its Fonts registry key, read from
// the file's bytes: the full font name (name ID 4) of each font, joined with
// " & " for a collection, then " (TrueType)" or " (OpenType)". Plain C++
// without Win32, so that the native tests and the fuzz target read it too.
// Every read is checked against the bytes given; nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace setupsup {

// How a reading ended. On anything but kOk what the sink received is to be
// thrown away.
enum class FontNameResult {
    kOk,
    kNotAFont, // no sfnt or collection magic at the start
    kDamaged,  // a directory, table, record or string past its container, a bad collection header
    kNoName,   // a font without a usable full-name record
};

// The most fonts a collection may hold; a header naming more is damaged.
// Real collections hold a few dozen at most.
inline constexpr std::uint32_t kMostCollectionFonts = 256;

// Receives the UTF-16 units of the name, in order. Put never fails: a sink
// that has no room left counts what it drops.
class FontNameSink {
public:
    virtual void Put(char16_t unit) noexcept = 0;

protected:
    ~FontNameSink() = default;
};

// The name of the font file held in bytes[0, size), put into sink.
FontNameResult ReadFontFileName(const unsigned char* bytes, std::size_t size, FontNameSink& sink) noexcept;

// The Unicode character of a Mac OS Roman byte.
char16_t MacRomanToUnicode(unsigned char byte) noexcept;

} // namespace setupsup
