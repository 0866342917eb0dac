// Every export against careless callers: each pointer argument null in turn
// (a defined result, no crash), and each output buffer at exactly its
// documented size directly before an inaccessible page while the export
// writes its longest output (nothing written past the buffer).
#include "tests/common/test_support.h"

#include <shellapi.h>

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace setupsup_test;

namespace {

using PathFn = int(WINAPI*)(const char*);
using TwoPathFn = int(WINAPI*)(const char*, const char*);
using BufferFn = int(WINAPI*)(char*);
using LanguageFn = int(WINAPI*)(const char*, int*, int*, char*);
using CopyKeyFn = int(WINAPI*)(HKEY, const char*, HKEY, const char*);
using SetRefCountFn = int(WINAPI*)(const char*, int);
using ShellExecuteSimpleFn = int(WINAPI*)(const char*, const char*, const char*, int);
using FormatDateFn = int(WINAPI*)(int, int, int, char*);

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
    ScratchDir dir;
    std::string target = dir.File("installed.cbf");
    WriteFileBytes(target, {'n', 'o', 't', ' ', 'c', 'b', 'f'});
    EXPECT_EQ(Export<TwoPathFn>("MergeCbf")("x.cbf", nullptr), -1);
    EXPECT_EQ(Export<TwoPathFn>("PruneCbf")("x.cbf", nullptr), -1);
    EXPECT_EQ(Export<PathFn>("TruncateCbf")(nullptr), -1);
    // A null source is "ZORBDLG.CBF" of the current folder; here there is none.
    InFolder(dir.path(), [&] {
        EXPECT_EQ(Export<TwoPathFn>("MergeCbf")(nullptr, target.c_str()), 3);
        EXPECT_EQ(Export<TwoPathFn>("PruneCbf")(nullptr, target.c_str()), 3);
    });
    EXPECT_EQ(ReadFileBytes(target).size(), 7u);
}

TEST(NullArguments, FileExportsFailWithTheirOwnCodes)
{
    ScratchDir dir;
    std::string file = dir.File("file.bin");
    WriteFileBytes(file, {1, 2, 3});
    auto unsplit = Export<TwoPathFn>("UnsplitFile");
    EXPECT_EQ(unsplit(nullptr, file.c_str()), -1);
    EXPECT_EQ(unsplit(file.c_str(), nullptr), -1);
    auto matchDate = Export<TwoPathFn>("MatchFileDate");
    EXPECT_EQ(matchDate(nullptr, file.c_str()), -1);
    EXPECT_EQ(matchDate(file.c_str(), nullptr), -2);
    EXPECT_EQ(ReadFileBytes(file).size(), 3u);

    auto language = Export<LanguageFn>("GetFileLanguage");
    int low = 7, high = 7;
    char name[12] = "x";
    EXPECT_EQ(language(nullptr, &low, &high, name), -1);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 0);
    EXPECT_STREQ(name, "Unavailable");
    const std::string dll = DllPath();
    EXPECT_EQ(language(dll.c_str(), nullptr, &high, name), 0) << "a null output is skipped";
    EXPECT_STREQ(name, "ENGLISH");
    EXPECT_EQ(language(dll.c_str(), &low, nullptr, name), 0);
    EXPECT_EQ(low, 9);
    EXPECT_EQ(language(dll.c_str(), &low, &high, nullptr), 0);

    EXPECT_EQ(Export<PathFn>("SelfRegisterFile")(nullptr), 99) << "nothing loadable";
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
    EXPECT_EQ(Export<PathFn>("GetFileRefCount")(nullptr), 10001);
    EXPECT_EQ(Export<SetRefCountFn>("SetFileRefCount")(nullptr, 5), ERROR_INVALID_PARAMETER);
    EXPECT_NE(::RegQueryValueExA(key, "", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS)
        << "no default value written";
    ::RegCloseKey(key);
    if (!existed)
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, sharedDlls);

    auto copyKey = Export<CopyKeyFn>("CopyKey");
    EXPECT_EQ(copyKey(HKEY_CURRENT_USER, nullptr, HKEY_CURRENT_USER, "Software\\SetupsupNullCopy"),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(copyKey(HKEY_CURRENT_USER, "Software\\Wine", HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_NE(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\SetupsupNullCopy", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(Export<PathFn>("UnregisterZORBApps")(nullptr), 0);
    EXPECT_EQ(Export<PathFn>("IsZORBAppRunning")(nullptr), 0);
}

TEST(NullArguments, FontAndShellExportsKeepTheirContracts)
{
    EXPECT_EQ(Export<PathFn>("AddFont")(nullptr), 0) << "nothing added";
    int broadcast = static_cast<int>(::SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0));
    EXPECT_EQ(Export<PathFn>("RemoveFont")(nullptr), broadcast) << "the broadcast still goes out";
    EXPECT_EQ(Export<PathFn>("GooseFont")(nullptr), SE_ERR_FNF);
    EXPECT_EQ(Export<ShellExecuteSimpleFn>("ShellExecuteSimple")(nullptr, nullptr, nullptr, SW_SHOWNORMAL), SE_ERR_FNF);
    EXPECT_EQ(Export<BufferFn>("GetSystemFont")(nullptr), 0) << "the font queries never fail";
    EXPECT_EQ(Export<BufferFn>("GetSystemFixedFont")(nullptr), 0);
}

TEST(NullArguments, SystemInformationWritesNothing)
{
    EXPECT_EQ(Export<FormatDateFn>("FormatDate")(2001, 12, 31, nullptr), 0);
    auto hostAddress = Export<BufferFn>("GetHostIPAddr");
    EXPECT_EQ(hostAddress(nullptr), 8);
    char address[16];
    int found = hostAddress(address);
    EXPECT_TRUE(found == 0 || found == 8) << "sockets still decided by the first real call: " << found;
}

TEST(GuardPage, LanguageNameAndBytesAtTheirExactSize)
{
    GuardedBuffer name(12), low(sizeof(int)), high(sizeof(int));
    auto language = Export<LanguageFn>("GetFileLanguage");
    EXPECT_EQ(language("C:\\no\\such\\file.dll", low.AsInt(), high.AsInt(), name.data()), -1);
    EXPECT_STREQ(name.data(), "Unavailable") << "11 characters and the NUL: all 12 bytes";
    const std::string dll = DllPath();
    EXPECT_EQ(language(dll.c_str(), low.AsInt(), high.AsInt(), name.data()), 0);
    EXPECT_EQ(*low.AsInt(), 9);
    EXPECT_STREQ(name.data(), "ENGLISH");
}

TEST(GuardPage, HostAddressInSixteenBytes)
{
    // The 15-character address is written by the lookup test through its
    // seam; here the real host's address goes into the same room.
    GuardedBuffer address(16);
    int result = Export<BufferFn>("GetHostIPAddr")(address.data());
    EXPECT_TRUE(result == 0 || result == 8) << result;
    EXPECT_LE(std::strlen(address.data()), 15u);
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
    GuardedBuffer face(LF_FACESIZE), fixedFace(LF_FACESIZE);
    EXPECT_EQ(Export<BufferFn>("GetSystemFont")(face.data()), 0);
    EXPECT_EQ(Export<BufferFn>("GetSystemFixedFont")(fixedFace.data()), 0);
    ::RemoveFontResourceExA(font.c_str(), FR_PRIVATE, nullptr);
    EXPECT_STREQ(face.data(), "Setupsup Longest Face Name 31ch");
    EXPECT_STREQ(fixedFace.data(), "Setupsup Longest Face Name 31ch");
}

namespace {

struct LongestDate {
    std::string picture, text;
};

LongestDate g_longest;
SYSTEMTIME g_date = {2001, 12, 0, 31, 0, 0, 0, 0};

BOOL CALLBACK NoteLongestDate(LPSTR localeText)
{
    LCID locale = std::strtoul(localeText, nullptr, 16);
    char text[256], picture[256];
    if (::GetDateFormatA(locale, DATE_SHORTDATE, &g_date, nullptr, text, sizeof text) > 0 &&
        ::GetLocaleInfoA(locale, LOCALE_SSHORTDATE, picture, sizeof picture) > 0 &&
        std::strlen(text) > g_longest.text.size())
        g_longest = {picture, text};
    return TRUE;
}

} // namespace

TEST(GuardPage, ShortDateInFortyNineBytes)
{
    ::EnumSystemLocalesA(NoteLongestDate, LCID_SUPPORTED);
    ASSERT_FALSE(g_longest.text.empty());
    std::printf("longest short date: \"%s\" (%s)\n", g_longest.text.c_str(), g_longest.picture.c_str());
    UserShortDate user;
    auto formatDate = Export<FormatDateFn>("FormatDate");
    GuardedBuffer date(49);
    ASSERT_TRUE(user.Set(g_longest.picture));
    char expected[256];
    int length = ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &g_date, nullptr, expected, sizeof expected);
    ASSERT_GT(length, 0);
    EXPECT_EQ(formatDate(2001, 12, 31, date.data()), length);
    EXPECT_STREQ(date.data(), expected);

    // Pictures whose dates take 48 and 49 characters: the first fills all 49
    // bytes with its NUL, the second does not fit and gives 0.
    const std::string filler(37, 'w');
    ASSERT_TRUE(user.Set("'" + filler + "' yyyy-MM-dd"));
    EXPECT_EQ(formatDate(2001, 12, 31, date.data()), 49);
    EXPECT_EQ(std::string(date.data()), filler + " 2001-12-31");
    ASSERT_TRUE(user.Set("'" + filler + "w' yyyy-MM-dd"));
    EXPECT_EQ(formatDate(2001, 12, 31, date.data()), 0);
}
