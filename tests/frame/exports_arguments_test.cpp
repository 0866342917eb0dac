// Every export against careless callers: each pointer argument null in turn
// (a defined result, no crash), and each output buffer at exactly its
// documented size directly before an inaccessible page while the export
// writes its longest output (nothing written past the buffer). Every check
// runs for the ANSI export and again for its W twin, whose output buffers
// hold as many wchar_t characters as the ANSI export's hold bytes.
#include "setupsup.h"
#include "tests/common/export_forms.h"
#include "tests/common/test_support.h"

#include <shellapi.h>

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace setupsup_test;

namespace {

// The ANSI exports or their W twins, with the calls these tests make.
template <typename C>
struct Form : ExportForm<C> {
    auto Path(const char* name) const { return this->template Get<int(WINAPI*)(const C*)>(name); }
    auto TwoPaths(const char* name) const { return this->template Get<int(WINAPI*)(const C*, const C*)>(name); }
    auto Buffer(const char* name) const { return this->template Get<int(WINAPI*)(C*)>(name); }
    auto Language() const { return this->template Get<int(WINAPI*)(const C*, int*, int*, C*)>("GetFileLanguage"); }
    auto CopyKey() const { return this->template Get<int(WINAPI*)(HKEY, const C*, HKEY, const C*)>("CopyKey"); }
    auto SetRefCount() const { return this->template Get<int(WINAPI*)(const C*, int)>("SetFileRefCount"); }
    auto Shell() const
    {
        return this->template Get<int(WINAPI*)(const C*, const C*, const C*, int)>("ShellExecuteSimple");
    }
    auto Date() const { return this->template Get<int(WINAPI*)(int, int, int, C*)>("FormatDate"); }
};

template <typename Check>
void ForEachForm(Check check)
{
    setupsup_test::ForEachForm<Form>(check);
}

std::string DllPath() { return ProgramFolder() + "setupsup.dll"; }

// Runs body with dir as the current folder, and restores the folder.
template <typename Body>
void InFolder(const std::string& dir, Body body)
{
    char saved[MAX_PATH];
    ASSERT_GT(::GetCurrentDirectoryA(sizeof saved, saved), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryA(dir.c_str()));
    body();
    ::SetCurrentDirectoryA(saved);
}

} // namespace

TEST(NullArguments, CbfExportsRefuseANullInstalledFile)
{
    ForEachForm([](auto form) {
        ScratchDir dir;
        std::string target = dir.File("installed.cbf");
        WriteFileBytes(target, {'n', 'o', 't', ' ', 'c', 'b', 'f'});
        EXPECT_EQ(form.TwoPaths("MergeCbf")(form.Of("x.cbf").c_str(), nullptr), -1);
        EXPECT_EQ(form.TwoPaths("PruneCbf")(form.Of("x.cbf").c_str(), nullptr), -1);
        EXPECT_EQ(form.Path("TruncateCbf")(nullptr), -1);
        // A null source is "ZORBDLG.CBF" of the current folder; here there is none.
        InFolder(dir.path(), [&] {
            EXPECT_EQ(form.TwoPaths("MergeCbf")(nullptr, form.Of(target).c_str()), 3);
            EXPECT_EQ(form.TwoPaths("PruneCbf")(nullptr, form.Of(target).c_str()), 3);
        });
        EXPECT_EQ(ReadFileBytes(target).size(), 7u);
    });
}

TEST(NullArguments, FileExportsFailWithTheirOwnCodes)
{
    ForEachForm([](auto form) {
        using Char = typename decltype(form)::Char;
        ScratchDir dir;
        const auto file = form.Of(dir.File("file.bin"));
        WriteFileBytes(dir.File("file.bin"), {1, 2, 3});
        auto unsplit = form.TwoPaths("UnsplitFile");
        EXPECT_EQ(unsplit(nullptr, file.c_str()), -1);
        EXPECT_EQ(unsplit(file.c_str(), nullptr), -1);
        auto matchDate = form.TwoPaths("MatchFileDate");
        EXPECT_EQ(matchDate(nullptr, file.c_str()), -1);
        EXPECT_EQ(matchDate(file.c_str(), nullptr), -2);
        EXPECT_EQ(ReadFileBytes(dir.File("file.bin")).size(), 3u);

        auto language = form.Language();
        int low = 7, high = 7;
        Char name[SETUPSUP_LANGUAGE_NAME_SIZE] = {'x', 0};
        EXPECT_EQ(language(nullptr, &low, &high, name), -1);
        EXPECT_EQ(low, 0);
        EXPECT_EQ(high, 0);
        EXPECT_STREQ(name, form.Of("Unavailable").c_str());
        const auto dll = form.Of(DllPath());
        EXPECT_EQ(language(dll.c_str(), nullptr, &high, name), 0) << "a null output is skipped";
        EXPECT_STREQ(name, form.Of("ENGLISH").c_str());
        EXPECT_EQ(language(dll.c_str(), &low, nullptr, name), 0);
        EXPECT_EQ(low, 9);
        EXPECT_EQ(language(dll.c_str(), &low, &high, nullptr), 0);

        for (const char* name :
             {"SelfRegisterFile", "SelfUnregisterFile", "SelfRegisterFileForUser", "SelfUnregisterFileForUser"})
            EXPECT_EQ(form.Path(name)(nullptr), 99) << name << ": nothing loadable";
        EXPECT_EQ(form.Path("DeleteInUseFile")(nullptr), SETUPSUP_INUSE_BAD_PATH);
        EXPECT_EQ(form.TwoPaths("ReplaceInUseFile")(nullptr, file.c_str()), SETUPSUP_INUSE_BAD_PATH);
        EXPECT_EQ(form.TwoPaths("ReplaceInUseFile")(file.c_str(), nullptr), SETUPSUP_INUSE_BAD_PATH);
        for (const char* name : {"InstallFont", "UninstallFont"})
            EXPECT_EQ(form.template Get<int(WINAPI*)(const Char*, DWORD)>(name)(nullptr, SETUPSUP_FOR_USER),
                      SETUPSUP_FONTFILE_BAD_PATH)
                << name;
        EXPECT_EQ(form.template Get<int(WINAPI*)(const Char*, DWORD, DWORD)>("AddToPath")(nullptr, 0, 0),
                  SETUPSUP_ENV_BAD_ARGUMENT);
        for (const char* name : {"RemoveFromPath", "DeleteEnvironmentValue"})
            EXPECT_EQ(form.template Get<int(WINAPI*)(const Char*, DWORD)>(name)(nullptr, SETUPSUP_FOR_USER),
                      SETUPSUP_ENV_BAD_ARGUMENT)
                << name;
        auto setValue = form.template Get<int(WINAPI*)(const Char*, const Char*, DWORD)>("SetEnvironmentValue");
        EXPECT_EQ(setValue(nullptr, form.Of("x").c_str(), SETUPSUP_FOR_USER), SETUPSUP_ENV_BAD_ARGUMENT);
        EXPECT_EQ(setValue(form.Of("SETUPSUP_NULL_VALUE").c_str(), nullptr, SETUPSUP_FOR_USER),
                  SETUPSUP_ENV_BAD_ARGUMENT);
        EXPECT_EQ(ReadFileBytes(dir.File("file.bin")).size(), 3u) << "nothing deleted or replaced";
    });
}

// A null image or path is refused before any process is looked at; a null
// output only with room 0.
TEST(NullArguments, ProcessExportsListNothing)
{
    ForEachForm([&](auto form) {
        using C = typename decltype(form)::Char;
        EXPECT_EQ(form.template Get<int(WINAPI*)(const C*, DWORD)>("CountProcesses")(nullptr, 0),
                  SETUPSUP_PROCESS_BAD_NAME);
        for (const char* name : {"CloseProcesses", "TerminateProcesses", "WaitForProcesses"})
            EXPECT_EQ(form.template Get<int(WINAPI*)(const C*, DWORD, DWORD)>(name)(nullptr, 0, 0),
                      SETUPSUP_PROCESS_BAD_NAME)
                << name;
        auto users = form.template Get<int(WINAPI*)(const C*, C*, DWORD)>("FindFileUsers");
        C out[4] = {'x', 'x', 'x', 'x'};
        EXPECT_EQ(users(nullptr, out, 4), SETUPSUP_PROCESS_BAD_NAME);
        EXPECT_EQ(out[0], C('x')) << "nothing written";
        const auto folder = form.Of(ProgramFolder());
        EXPECT_EQ(users(folder.c_str(), nullptr, 4), SETUPSUP_PROCESS_BAD_BUFFER);
        EXPECT_GE(users(folder.c_str(), nullptr, 0), 0) << "a count without a buffer";
    });
}

TEST(NullArguments, RegistryExportsNameNoKey)
{
    // The key must exist, or its open fails before the name is looked at.
    const char* sharedDlls = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
    HKEY key = nullptr;
    bool existed = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, sharedDlls, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (existed)
        ::RegCloseKey(key);
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, sharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ForEachForm([&](auto form) {
        EXPECT_EQ(form.Path("GetFileRefCount")(nullptr), 10001);
        EXPECT_EQ(form.SetRefCount()(nullptr, 5), ERROR_INVALID_PARAMETER);
        EXPECT_NE(::RegQueryValueExA(key, "", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS)
            << "no default value written";

        auto copyKey = form.CopyKey();
        EXPECT_EQ(copyKey(HKEY_CURRENT_USER, nullptr, HKEY_CURRENT_USER, form.Of("Software\\SetupsupNullCopy").c_str()),
                  ERROR_INVALID_PARAMETER);
        EXPECT_EQ(copyKey(HKEY_CURRENT_USER, form.Of("Software\\Wine").c_str(), HKEY_CURRENT_USER, nullptr),
                  ERROR_INVALID_PARAMETER);
        HKEY copied;
        EXPECT_NE(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\SetupsupNullCopy", 0, KEY_READ, &copied),
                  ERROR_SUCCESS);
        EXPECT_EQ(form.Path("UnregisterZORBApps")(nullptr), 0);
        EXPECT_EQ(form.Path("IsZORBAppRunning")(nullptr), 0);
    });
    ::RegCloseKey(key);
    if (!existed)
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, sharedDlls);
}

TEST(NullArguments, FontAndShellExportsKeepTheirContracts)
{
    ForEachForm([](auto form) {
        EXPECT_EQ(form.Path("AddFont")(nullptr), 0) << "nothing added";
        int broadcast = static_cast<int>(::SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0));
        EXPECT_EQ(form.Path("RemoveFont")(nullptr), broadcast) << "the broadcast still goes out";
        EXPECT_EQ(form.Path("GooseFont")(nullptr), SE_ERR_FNF);
        EXPECT_EQ(form.Shell()(nullptr, nullptr, nullptr, SW_SHOWNORMAL), SE_ERR_FNF);
        EXPECT_EQ(form.Buffer("GetSystemFont")(nullptr), 0) << "the font queries never fail";
        EXPECT_EQ(form.Buffer("GetSystemFixedFont")(nullptr), 0);
    });
}

// A null path or out, and the name at exactly its room before the guard
// page: "Setupsup Single (TrueType)", 26 characters and the NUL.
TEST(GuardPage, FontNameAtItsExactRoom)
{
    const std::string font = ProgramFolder() + "setupsup-single.ttf";
    ForEachForm([&](auto form) {
        using Char = typename decltype(form)::Char;
        auto fontName = form.template Get<int(WINAPI*)(const Char*, Char*, DWORD)>("GetFontName");
        const auto path = form.Of(font);
        GuardedBuffer name(27 * sizeof(Char));
        name.As<Char>()[0] = 'x';
        EXPECT_EQ(fontName(nullptr, name.As<Char>(), 27), SETUPSUP_FONTNAME_CANNOT_OPEN);
        EXPECT_EQ(name.As<Char>()[0], Char(0)) << "emptied";
        EXPECT_EQ(fontName(path.c_str(), nullptr, 27), SETUPSUP_FONTNAME_BAD_BUFFER);
        EXPECT_EQ(fontName(path.c_str(), nullptr, 0), -27) << "the room needed";
        EXPECT_EQ(fontName(path.c_str(), name.As<Char>(), 27), SETUPSUP_FONTNAME_OK);
        EXPECT_STREQ(name.As<Char>(), form.Of("Setupsup Single (TrueType)").c_str());
    });
}

TEST(NullArguments, SystemInformationWritesNothing)
{
    ForEachForm([](auto form) {
        using Char = typename decltype(form)::Char;
        EXPECT_EQ(form.Date()(2001, 12, 31, nullptr), 0);
        auto hostAddress = form.Buffer("GetHostIPAddr");
        EXPECT_EQ(hostAddress(nullptr), 8);
        Char address[SETUPSUP_ADDRESS_SIZE];
        int found = hostAddress(address);
        EXPECT_TRUE(found == 0 || found == 8) << "sockets still decided by the first real call: " << found;
    });
}

TEST(GuardPage, LanguageNameAndBytesAtTheirExactSize)
{
    ForEachForm([](auto form) {
        using Char = typename decltype(form)::Char;
        GuardedBuffer name(SETUPSUP_LANGUAGE_NAME_SIZE * sizeof(Char)), low(sizeof(int)), high(sizeof(int));
        auto language = form.Language();
        EXPECT_EQ(language(form.Of("C:\\no\\such\\file.dll").c_str(), low.As<int>(), high.As<int>(), name.As<Char>()),
                  -1);
        EXPECT_STREQ(name.As<Char>(), form.Of("Unavailable").c_str()) << "11 characters and the NUL: all 12";
        EXPECT_EQ(language(form.Of(DllPath()).c_str(), low.As<int>(), high.As<int>(), name.As<Char>()), 0);
        EXPECT_EQ(*low.As<int>(), 9);
        EXPECT_STREQ(name.As<Char>(), form.Of("ENGLISH").c_str());
    });
}

TEST(GuardPage, HostAddressInSixteenCharacters)
{
    // The 15-character address is written by the lookup test through its
    // seam; here the real host's address goes into the same room, the same
    // in both forms.
    char ansi[SETUPSUP_ADDRESS_SIZE];
    const int expected = Export<int(WINAPI*)(char*)>("GetHostIPAddr")(ansi);
    EXPECT_TRUE(expected == 0 || expected == 8) << expected;
    ForEachForm([&](auto form) {
        using Char = typename decltype(form)::Char;
        GuardedBuffer address(SETUPSUP_ADDRESS_SIZE * sizeof(Char));
        EXPECT_EQ(form.Buffer("GetHostIPAddr")(address.As<Char>()), expected);
        EXPECT_STREQ(address.As<Char>(), form.Of(ansi).c_str());
    });
}

// A face of 31 characters, installed for this process. It claims the
// Japanese code page, and the test runs in a Japanese locale, where no other
// TrueType face has the system font's character set: the queries name it.
// Added privately: Wine keeps the vertical "@" face of a font added for all
// in its font cache after the removal, where later processes would find it.
TEST(GuardPage, FaceNameOfThirtyOneCharacters)
{
    const std::string font = ProgramFolder() + "setupsup-longest.ttf";
    ASSERT_TRUE(FileExists(font)) << font;
    ASSERT_GE(::AddFontResourceExA(font.c_str(), FR_PRIVATE, nullptr), 1) << "with its vertical \"@\" face, 2";
    ForEachForm([](auto form) {
        using Char = typename decltype(form)::Char;
        GuardedBuffer face(SETUPSUP_FACE_NAME_SIZE * sizeof(Char)), fixedFace(SETUPSUP_FACE_NAME_SIZE * sizeof(Char));
        EXPECT_EQ(form.Buffer("GetSystemFont")(face.As<Char>()), 0);
        EXPECT_EQ(form.Buffer("GetSystemFixedFont")(fixedFace.As<Char>()), 0);
        EXPECT_STREQ(face.As<Char>(), form.Of("Setupsup Longest Face Name 31ch").c_str());
        EXPECT_STREQ(fixedFace.As<Char>(), form.Of("Setupsup Longest Face Name 31ch").c_str());
    });
    ::RemoveFontResourceExA(font.c_str(), FR_PRIVATE, nullptr);
}

namespace {

// The longest short date of any locale, in bytes for the ANSI export and in
// characters for the W export, with the picture that gives it: each
// locale's own, whatever picture the user has set (a run that ended early
// may have left one of the pictures below).
template <typename Char>
struct LongestDate {
    std::basic_string<Char> picture, text;
};

LongestDate<char> g_longest;
LongestDate<wchar_t> g_longestWide;
SYSTEMTIME g_date = {2001, 12, 0, 31, 0, 0, 0, 0};

BOOL CALLBACK NoteLongestDate(LPSTR localeText)
{
    LCID locale = std::strtoul(localeText, nullptr, 16);
    char text[256], picture[256];
    constexpr DWORD kOwn = LOCALE_NOUSEROVERRIDE;
    if (::GetDateFormatA(locale, DATE_SHORTDATE | kOwn, &g_date, nullptr, text, sizeof text) > 0 &&
        ::GetLocaleInfoA(locale, LOCALE_SSHORTDATE | kOwn, picture, sizeof picture) > 0 &&
        std::strlen(text) > g_longest.text.size())
        g_longest = {picture, text};
    wchar_t wideText[256], widePicture[256];
    if (::GetDateFormatW(locale, DATE_SHORTDATE | kOwn, &g_date, nullptr, wideText, 256) > 0 &&
        ::GetLocaleInfoW(locale, LOCALE_SSHORTDATE | kOwn, widePicture, 256) > 0 &&
        std::wcslen(wideText) > g_longestWide.text.size())
        g_longestWide = {widePicture, wideText};
    return TRUE;
}

template <typename Char>
const LongestDate<Char>& Longest()
{
    if constexpr (sizeof(Char) == 1)
        return g_longest;
    else
        return g_longestWide;
}

// The user's short date as the system formats it, in either form.
int UserDate(char* out, int room)
{
    return ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &g_date, nullptr, out, room);
}
int UserDate(wchar_t* out, int room)
{
    return ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &g_date, nullptr, out, room);
}

} // namespace

TEST(GuardPage, ShortDateInFortyNineCharacters)
{
    ::EnumSystemLocalesA(NoteLongestDate, LCID_SUPPORTED);
    ASSERT_FALSE(g_longest.text.empty());
    ASSERT_FALSE(g_longestWide.text.empty());
    std::printf("longest short date: \"%s\" (%s), %u characters\n", g_longest.text.c_str(), g_longest.picture.c_str(),
                static_cast<unsigned>(g_longestWide.text.size()));
    UserShortDate user;
    ForEachForm([&](auto form) {
        using Char = typename decltype(form)::Char;
        auto formatDate = form.Date();
        GuardedBuffer date(SETUPSUP_DATE_SIZE * sizeof(Char));
        ASSERT_TRUE(user.Set(Longest<Char>().picture));
        Char expected[256];
        int length = UserDate(expected, 256);
        ASSERT_GT(length, 0);
        // Asserted first: a date cut short may have no NUL before the guard page.
        ASSERT_EQ(formatDate(2001, 12, 31, date.As<Char>()), length);
        EXPECT_STREQ(date.As<Char>(), expected);

        // Pictures whose dates take 48 and 49 characters: the first fills
        // all 49 with its NUL, the second does not fit and gives 0.
        const std::string filler(37, 'w');
        ASSERT_TRUE(user.Set("'" + filler + "' yyyy-MM-dd"));
        ASSERT_EQ(formatDate(2001, 12, 31, date.As<Char>()), 49);
        EXPECT_STREQ(date.As<Char>(), form.Of(filler + " 2001-12-31").c_str());
        ASSERT_TRUE(user.Set("'" + filler + "w' yyyy-MM-dd"));
        EXPECT_EQ(formatDate(2001, 12, 31, date.As<Char>()), 0);
    });
}
