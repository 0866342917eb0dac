// libFuzzer target: the registry name of a font file read from arbitrary
// bytes. The bytes sit in a block of exactly their size, so any read past
// them is caught; a name, when there is one, ends in one of the two
// suffixes and has at least one character before it.
#include "fonts/font_name.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

class Collect final : public setupsup::FontNameSink {
public:
    void Put(char16_t unit) noexcept override { text.push_back(unit); }
    std::u16string text;
};

bool EndsWith(const std::u16string& text, const std::u16string& end)
{
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    if (size > 0)
        std::memcpy(block.get(), data, size);
    Collect name;
    if (setupsup::ReadFontFileName(block.get(), size, name) == setupsup::FontNameResult::kOk &&
        !EndsWith(name.text, u" (TrueType)") && !EndsWith(name.text, u" (OpenType)")) {
        std::fprintf(stderr, "font_name_fuzz: a name without its suffix\n");
        std::abort();
    }
    return 0;
}
