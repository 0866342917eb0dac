// GetFontName and GetFontNameW through the DLL under Wine: every font the
// suite has (DejaVu, the renamed test fonts, a CFF font, non-ASCII names)
// against the name fontTools reads in the same file (font-names.txt, made by
// make_font_name_cases.py), then the room, the null arguments and the
// files that are no fonts or damaged ones.
#include "setupsup.h"
#include "tests/common/export_forms.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace setupsup_test;

namespace {

template <typename C>
struct Form : ExportForm<C> {
    int Name(const C* path, C* out, DWORD room) const
    {
        return this->template Get<int(WINAPI*)(const C*, C*, DWORD)>("GetFontName")(path, out, room);
    }
    std::basic_string<C> Name(const std::basic_string<C>& path) const
    {
        C out[1024];
        const int result = Name(path.c_str(), out, 1024);
        return result == SETUPSUP_FONTNAME_OK ? out : std::basic_string<C>(1, C('0' - result));
    }
};

// The files of font-names.txt (Windows paths) and their names (UTF-16).
std::vector<std::pair<std::string, std::wstring>> ExpectedNames()
{
    std::vector<std::pair<std::string, std::wstring>> names;
    std::ifstream listing(ProgramFile("font-names.txt"));
    for (std::string line; std::getline(listing, line);) {
        const size_t tab = line.find('\t');
        std::string file = line.substr(0, tab);
        if (file[0] == '/') { // the host's file through Wine's Z: drive
            for (char& c : file)
                c = c == '/' ? '\\' : c;
            file = "Z:" + file;
        } else {
            file = ProgramFile(file);
        }
        names.emplace_back(file, Utf16(line.substr(tab + 1)));
    }
    return names;
}

bool Ascii(const std::wstring& text)
{
    for (wchar_t c : text)
        if (c > 0x7F)
            return false;
    return true;
}

} // namespace

// The W twin gives each name exactly; the ANSI export the ASCII ones as
// they are (the others below, per code page).
TEST(GetFontName, EveryFontAsFontToolsReadsIt)
{
    const auto names = ExpectedNames();
    ASSERT_GE(names.size(), 9u) << "DejaVu, the three test fonts and the three made for this test";
    ForEachForm<Form>([&](auto form) {
        for (const auto& [file, name] : names) {
            using C = typename decltype(form)::Char;
            if (sizeof(C) == 1 && !Ascii(name))
                continue;
            EXPECT_EQ(form.Name(form.Of(file)), std::basic_string<C>(name.begin(), name.end())) << file;
        }
    });
    EXPECT_EQ(Form<char>{{""}}.Name(ProgramFile("setupsup-trio.ttc")),
              "Setupsup Trio A & Setupsup Trio B & Setupsup Trio C (TrueType)");
    EXPECT_EQ(Form<char>{{""}}.Name(ProgramFile("setupsup-cff.otf")), "Setupsup Cff Outlines (OpenType)");
}

// In code page 1252 the ö has its byte and CJK characters become '?'.
TEST(GetFontName, NonAsciiNamesInTheAnsiCodePage)
{
    ASSERT_EQ(::GetACP(), 1252u);
    const Form<char> ansi{{""}};
    EXPECT_EQ(ansi.Name(ProgramFile("setupsup-zorb.ttf")), "Z\xF6rb Setupsup (TrueType)");
    EXPECT_EQ(ansi.Name(ProgramFile("setupsup-cjk.ttf")), "?? Setupsup (TrueType)");
    const Form<wchar_t> wide{{"W"}};
    EXPECT_EQ(wide.Name(Utf16(ProgramFile("setupsup-cjk.ttf"))), L"\u5B57\u4F53 Setupsup (TrueType)");
    char room[32] = {};
    EXPECT_EQ(ansi.Name(ProgramFile("setupsup-cjk.ttf").c_str(), room, 22), -23) << "bytes: one per '?'";
}

// Exactly the room needed, one short (nothing written past it but the
// emptied first character), none at all; and every failure empties out.
TEST(GetFontName, RoomNullsAndFilesThatAreNoFonts)
{
    ScratchDir dir;
    const std::vector<uint8_t> font = ReadFileBytes(ProgramFile("setupsup-single.ttf"));
    const std::string cut = MakeFile(dir, "cut.ttf", std::vector<uint8_t>(font.begin(), font.begin() + 300));
    const std::string text = MakeFile(dir, "text.ttf", std::vector<uint8_t>(64, 'a'));
    ForEachForm<Form>([&](auto form) {
        using C = typename decltype(form)::Char;
        const auto path = form.Of(ProgramFile("setupsup-single.ttf"));
        const auto expected = form.Of("Setupsup Single (TrueType)");
        const DWORD needed = static_cast<DWORD>(expected.size() + 1);
        std::vector<C> out(needed + 8, C('x'));
        EXPECT_EQ(form.Name(path.c_str(), out.data(), needed), SETUPSUP_FONTNAME_OK);
        EXPECT_EQ(std::basic_string<C>(out.data()), expected);
        std::fill(out.begin(), out.end(), C('x'));
        EXPECT_EQ(form.Name(path.c_str(), out.data(), needed - 1), -static_cast<int>(needed));
        EXPECT_EQ(out[0], C(0));
        EXPECT_EQ(std::basic_string<C>(out.data() + 1, out.size() - 1), std::basic_string<C>(out.size() - 1, C('x')))
            << "nothing past the emptied first character";
        EXPECT_EQ(form.Name(path.c_str(), nullptr, 0), -static_cast<int>(needed));
        EXPECT_LE(form.Name(path.c_str(), nullptr, 0), SETUPSUP_FONTNAME_ROOM_NEEDED);
        EXPECT_EQ(form.Name(path.c_str(), nullptr, 1), SETUPSUP_FONTNAME_BAD_BUFFER);

        const struct {
            std::basic_string<C> path;
            int result;
        } failures[] = {
            {form.Of(""), SETUPSUP_FONTNAME_CANNOT_OPEN},
            {form.Of(dir.File("missing.ttf")), SETUPSUP_FONTNAME_CANNOT_OPEN},
            {form.Of(dir.path()), SETUPSUP_FONTNAME_CANNOT_OPEN},
            {form.Of(text), SETUPSUP_FONTNAME_NOT_A_FONT},
            {form.Of(cut), SETUPSUP_FONTNAME_DAMAGED},
        };
        int i = 0;
        for (const auto& failure : failures) {
            out[0] = C('x');
            EXPECT_EQ(form.Name(failure.path.c_str(), out.data(), needed), failure.result) << "failure " << i;
            EXPECT_EQ(out[0], C(0)) << "failure " << i++;
        }
        out[0] = C('x');
        EXPECT_EQ(form.Name(nullptr, out.data(), needed), SETUPSUP_FONTNAME_CANNOT_OPEN);
        EXPECT_EQ(out[0], C(0));
    });
}
