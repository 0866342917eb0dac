// Native tests of the font name parser (fonts/font_name.h) over the fuzz
// seeds (fuzz/make_font_name_corpus.py) and damaged variants made here.
// Built with ASan: a read outside the bytes fails the run.
#include "fonts/font_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using setupsup::FontNameResult;
using Bytes = std::vector<unsigned char>;

Bytes Seed(const std::string& name)
{
    std::ifstream file(std::string(FONT_NAME_CORPUS) + "/" + name, std::ios::binary);
    EXPECT_TRUE(file) << name;
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Read {
    FontNameResult result;
    std::u16string name;
};

// The parser over exactly bytes (a copy of their size, for ASan).
Read NameOf(const Bytes& bytes)
{
    struct Collect final : setupsup::FontNameSink {
        void Put(char16_t unit) noexcept override { text.push_back(unit); }
        std::u16string text;
    } sink;
    // A block of exactly their size: a vector's capacity may be larger.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const FontNameResult result = setupsup::ReadFontFileName(exact.get(), bytes.size(), sink);
    return {result, result == FontNameResult::kOk ? sink.text : u""};
}

uint32_t Get32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

void Set32(Bytes* b, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        (*b)[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// bytes with every full-name record renamed to name ID 5.
Bytes WithoutFullName(Bytes bytes)
{
    const size_t tables = size_t(bytes[4]) << 8 | bytes[5];
    for (size_t i = 0; i < tables; ++i) {
        const size_t record = 12 + 16 * i;
        if (Get32(bytes, record) != 0x6E616D65) // 'name'
            continue;
        const size_t at = Get32(bytes, record + 8);
        const size_t count = size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        for (size_t r = 0; r < count; ++r)
            if (bytes[at + 6 + 12 * r + 7] == 4)
                bytes[at + 6 + 12 * r + 7] = 5;
    }
    return bytes;
}

TEST(FontNameParser, SeedsAndDamagedFonts)
{
    const Bytes trio = Seed("trio.ttc");
    Bytes noFonts = trio, offsetPast = trio, version3 = trio;
    Set32(&noFonts, 8, 0);
    // One more font than allowed, each the first of the trio: a header and
    // offsets that are all within the bytes.
    const uint32_t most = setupsup::kMostCollectionFonts;
    Bytes tooMany(12 + 4 * (most + 1));
    tooMany.insert(tooMany.end(), trio.begin(), trio.end());
    Set32(&tooMany, 0, Get32(trio, 0));
    Set32(&tooMany, 4, Get32(trio, 4));
    Set32(&tooMany, 8, most + 1);
    for (uint32_t i = 0; i <= most; ++i)
        Set32(&tooMany, 12 + 4 * i, 12 + 4 * (most + 1) + Get32(trio, 12));
    Set32(&offsetPast, 16, static_cast<uint32_t>(trio.size()));
    version3[5] = 3;
    const struct {
        const char* what;
        Bytes bytes;
        FontNameResult result;
        std::u16string name;
    } cases[] = {
        {"single", Seed("single.ttf"), FontNameResult::kOk, u"Seed Single (TrueType)"},
        {"cff", Seed("cff.otf"), FontNameResult::kOk, u"Seed Cff (OpenType)"},
        {"collection", trio, FontNameResult::kOk, u"Seed Trio A & Seed Trio B & Seed Trio C (TrueType)"},
        {"Mac OS Roman only", Seed("mac-only.ttf"), FontNameResult::kOk, u"Z\u00F6rb Mac \u2020 (TrueType)"},
        {"US English first", Seed("us-english.ttf"), FontNameResult::kOk, u"Seed English (TrueType)"},
        {"any Windows record before Mac", Seed("windows-first.ttf"), FontNameResult::kOk, u"Seed Deutsch (TrueType)"},
        {"truncated directory", Seed("truncated-directory.ttf"), FontNameResult::kDamaged, u""},
        {"table past the end", Seed("offset-past-end.ttf"), FontNameResult::kDamaged, u""},
        {"string past the name table", Seed("name-past-table.ttf"), FontNameResult::kDamaged, u""},
        {"no magic", Seed("not-a-font.bin"), FontNameResult::kNotAFont, u""},
        {"empty", Bytes(), FontNameResult::kNotAFont, u""},
        {"no full name", WithoutFullName(Seed("single.ttf")), FontNameResult::kNoName, u""},
        {"collection of none", noFonts, FontNameResult::kDamaged, u""},
        {"collection of too many", tooMany, FontNameResult::kDamaged, u""},
        {"collection font past the end", offsetPast, FontNameResult::kDamaged, u""},
        {"collection version 3", version3, FontNameResult::kDamaged, u""},
    };
    for (const auto& c : cases) {
        const Read read = NameOf(c.bytes);
        EXPECT_EQ(read.result, c.result) << c.what;
        EXPECT_EQ(read.name, c.name) << c.what;
    }
}

// Every cut of every seed: never a read past the cut (ASan), and a name
// only where the cut left every table whole (padding after the last one).
TEST(FontNameParser, EveryTruncationOfEverySeed)
{
    for (const char* seed : {"single.ttf", "cff.otf", "trio.ttc", "mac-only.ttf"}) {
        const Bytes whole = Seed(seed);
        const Read full = NameOf(whole);
        ASSERT_EQ(full.result, FontNameResult::kOk) << seed;
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            const Read read = NameOf(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
            if (read.result == FontNameResult::kOk)
                EXPECT_EQ(read.name, full.name) << seed << " cut at " << cut;
            else
                EXPECT_EQ(read.result, cut < 4 ? FontNameResult::kNotAFont : FontNameResult::kDamaged)
                    << seed << " cut at " << cut;
        }
    }
}

} // namespace
