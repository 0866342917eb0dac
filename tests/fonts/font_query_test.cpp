// System font queries, checked with fixed values where the locale decides
// them and otherwise through the font mapper, not the enumeration the library
// walks. The test runs once per locale (SETUPSUP_FONT_CASE names it): ANSI;
// Cyrillic; Hebrew, whose TrueType faces include no fixed-pitch one; Japanese,
// with no TrueType face at all, so that the "System" and DEFAULT_CHARSET
// fallbacks run for real.
#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

using namespace setupsup_test;

using FaceFn = int(WINAPI*)(char*);
using CharsetFn = int(WINAPI*)();

namespace {

std::string FontCase()
{
    char value[32] = {};
    ::GetEnvironmentVariableA("SETUPSUP_FONT_CASE", value, sizeof value);
    return value;
}

BYTE SystemCharset()
{
    LOGFONTA systemFont = {};
    ::GetObjectA(::GetStockObject(SYSTEM_FONT), sizeof systemFont, &systemFont);
    return systemFont.lfCharSet;
}

// The locale of the run gives the situation its case is for.
void RequireTheCasesCharset()
{
    const std::string fontCase = FontCase();
    const int expected = fontCase == "ansi"       ? ANSI_CHARSET
                         : fontCase == "cyrillic" ? RUSSIAN_CHARSET
                         : fontCase == "hebrew"   ? HEBREW_CHARSET
                         : fontCase == "japanese" ? SHIFTJIS_CHARSET
                                                  : -1;
    ASSERT_NE(expected, -1) << "SETUPSUP_FONT_CASE names no case: \"" << fontCase << "\"";
    ASSERT_EQ(SystemCharset(), expected) << "the system font's character set in the " << fontCase
                                         << " case (LC_ALL sets it per process)";
}

[[maybe_unused]] testing::Environment* const g_fontCase =
    testing::AddGlobalTestEnvironment(Precondition(RequireTheCasesCharset));

// Calls a face export on a 32-byte buffer inside a larger one whose tail
// must stay untouched.
std::string Face(FaceFn fn)
{
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(fn(buffer), 0) << "face queries return 0";
    EXPECT_LT(std::strlen(buffer), 32u) << "the name and its NUL fit 32 bytes";
    for (size_t i = 32; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], '#') << "byte " << i << " beyond the 32-byte buffer written";
    return buffer;
}

class FontQueries : public ::testing::Test {
protected:
    void SetUp() override
    {
        getSystemFont_ = Export<FaceFn>("GetSystemFont");
        getSystemFixedFont_ = Export<FaceFn>("GetSystemFixedFont");
        getSystemCharset_ = Export<CharsetFn>("GetSystemCharset");
        ASSERT_TRUE(getSystemFont_ && getSystemFixedFont_ && getSystemCharset_);
        systemCharset_ = SystemCharset();
        case_ = FontCase();
    }
    FaceFn getSystemFont_ = nullptr, getSystemFixedFont_ = nullptr;
    CharsetFn getSystemCharset_ = nullptr;
    BYTE systemCharset_ = 0;
    std::string case_;
};

} // namespace

// What the font mapper makes of face in charset, read back through a device
// context: a second route to the faces the library finds by enumeration.
struct FaceFacts {
    std::string mapped; // the face the mapper chose
    bool trueType = false, fixedPitch = false;
    int charset = -1;
};

FaceFacts Describe(const std::string& face, BYTE charset)
{
    FaceFacts facts;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HFONT font = ::CreateFontA(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face.c_str());
    HGDIOBJ previous = ::SelectObject(dc, font);
    char mapped[LF_FACESIZE] = {};
    ::GetTextFaceA(dc, sizeof mapped, mapped);
    TEXTMETRICA metrics = {};
    ::GetTextMetricsA(dc, &metrics);
    facts.mapped = mapped;
    facts.trueType = (metrics.tmPitchAndFamily & TMPF_TRUETYPE) != 0;
    facts.fixedPitch = (metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) == 0; // the bit is set for variable pitch
    facts.charset = ::GetTextCharset(dc);
    ::SelectObject(dc, previous);
    ::DeleteObject(font);
    ::DeleteDC(dc);
    return facts;
}

// A face the library named must be a TrueType face of the system font's
// character set, as the mapper sees it.
void ExpectTrueTypeFace(const std::string& face, BYTE charset)
{
    FaceFacts facts = Describe(face, charset);
    EXPECT_EQ(facts.mapped, face) << "a face the system has";
    EXPECT_TRUE(facts.trueType) << face;
    EXPECT_EQ(facts.charset, charset) << face;
}

TEST_F(FontQueries, GetSystemFontNamesATrueTypeFaceOfTheSystemCharset)
{
    std::string face = Face(getSystemFont_);
    if (case_ == "japanese") {
        EXPECT_EQ(face, "System") << "no TrueType face in that character set";
        return;
    }
    EXPECT_NE(face, "System");
    ExpectTrueTypeFace(face, systemCharset_);
}

TEST_F(FontQueries, GetSystemFixedFontPrefersFixedPitch)
{
    std::string face = Face(getSystemFixedFont_);
    if (case_ == "japanese") {
        EXPECT_EQ(face, "System");
    } else if (case_ == "hebrew") {
        EXPECT_EQ(face, Face(getSystemFont_)) << "no fixed-pitch face: the same as GetSystemFont";
    } else {
        ExpectTrueTypeFace(face, systemCharset_);
        EXPECT_TRUE(Describe(face, systemCharset_).fixedPitch) << face << " is fixed-pitch";
    }
}

TEST_F(FontQueries, GetSystemCharsetIsTheCharsetOfThatFace)
{
    const int expected = case_ == "ansi"       ? ANSI_CHARSET
                         : case_ == "cyrillic" ? RUSSIAN_CHARSET
                         : case_ == "hebrew"   ? HEBREW_CHARSET
                                               : DEFAULT_CHARSET; // Japanese: no TrueType face
    EXPECT_EQ(getSystemCharset_(), expected);
}
