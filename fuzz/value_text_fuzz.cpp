// libFuzzer target: the text of a registry value as CopyKey and
// UnregisterZORBApps read it, on arbitrary data as the registry may hand it
// out (written by others: no NUL, an odd number of bytes for UTF-16 text,
// NULs anywhere). The data sits in a block of exactly its size, so any read
// past it is caught; the length is checked against a plain reading of the
// rule, for 8-bit and 16-bit characters (UTF-16 is wchar_t on Windows).
#include "registry/value_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

template <typename Char>
void Check(const unsigned char* data, size_t size)
{
    const size_t length = setupsup::ValueTextLength<Char>(data, size);
    const size_t chars = size / sizeof(Char);
    bool holds = length <= chars;
    for (size_t i = 0; holds && i < length; ++i) {
        Char c;
        std::memcpy(&c, data + i * sizeof(Char), sizeof(Char));
        holds = c != 0;
    }
    if (holds && length < chars) {
        Char c;
        std::memcpy(&c, data + length * sizeof(Char), sizeof(Char));
        holds = c == 0;
    }
    Char first = 0;
    if (chars > 0)
        std::memcpy(&first, data, sizeof(Char));
    const bool isZero = setupsup::ValueTextIs<Char>(data, size, static_cast<Char>('0'));
    holds = holds && isZero == (length == 1 && first == '0');
    if (!holds) {
        std::fprintf(stderr, "value_text_fuzz: the text of a %zu-byte value is misread (%zu-byte characters)\n", size,
                     sizeof(Char));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    if (size > 0)
        std::memcpy(block.get(), data, size);
    Check<char>(block.get(), size);
    Check<char16_t>(block.get(), size);
    return 0;
}
