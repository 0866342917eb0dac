// GetFileLanguage through setupsup.dll: the first translation of the version
// resource of the library itself and of fixture modules built with the tests
// (tests/files/fixtures/language_module.rc), and the presets for files
// without one.
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace setupsup_test;

namespace {

using LanguageFn = int(WINAPI*)(const char*, int*, int*, char*);

TEST(GetFileLanguage, ReadsTheFirstTranslationOfTheLibrarysOwnResource)
{
    auto language = Export<LanguageFn>("GetFileLanguage");
    ASSERT_NE(language, nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(Dll(), path, sizeof path), 0u);
    int low = -1, high = -1;
    char name[12];
    EXPECT_EQ(language(path, &low, &high, name), 0);
    EXPECT_EQ(low, 9) << "0x0409: low byte";
    EXPECT_EQ(high, 4) << "0x0409: high byte";
    EXPECT_STREQ(name, "ENGLISH");
}

// The caller's 12-byte name buffer between guard bytes that must stay as
// they are.
struct GuardedName {
    char before[8];
    char name[12];
    char after[8];
};

TEST(GetFileLanguage, FirstTranslationEntryOfBuiltModules)
{
    auto language = Export<LanguageFn>("GetFileLanguage");
    ASSERT_NE(language, nullptr);
    struct Case {
        const char* module;
        int result, low, high;
        const char* name;
    };
    const Case cases[] = {
        {"language_0407.dll", 0, 0x07, 0x04, "GERMAN"},    {"language_0c07.dll", 0, 0x07, 0x0C, "GERMAN"},
        {"language_0809.dll", 0, 0x09, 0x08, "ENGLISH"},   {"language_0000.dll", 0, 0x00, 0x00, "NEUTRAL"},
        {"language_040d.dll", 0, 0x0D, 0x04, "Unknown"},   // Hebrew is not in the table
        {"language_several.dll", 0, 0x0C, 0x04, "FRENCH"}, // 040C, then 0409 and 0407
        {"language_none.dll", -1, 0, 0, "Unavailable"},    // resources, but no version resource
    };
    for (const Case& c : cases) {
        const std::string path = ProgramFile(c.module);
        ASSERT_TRUE(FileExists(path)) << path << " is built with the tests";
        GuardedName buffer;
        std::memset(&buffer, 'Z', sizeof buffer);
        int low = -1, high = -1;
        EXPECT_EQ(language(path.c_str(), &low, &high, buffer.name), c.result) << c.module;
        EXPECT_EQ(low, c.low) << c.module << ": low byte of the language identifier";
        EXPECT_EQ(high, c.high) << c.module << ": high byte of the language identifier";
        EXPECT_STREQ(buffer.name, c.name) << c.module;
        EXPECT_EQ(std::string(buffer.before, 8), std::string(8, 'Z')) << c.module << ": bytes before the buffer";
        EXPECT_EQ(std::string(buffer.after, 8), std::string(8, 'Z')) << c.module << ": bytes after the buffer";
    }
}

TEST(GetFileLanguage, FilesWithoutAResourceGiveThePresets)
{
    ScratchDir dir;
    auto language = Export<LanguageFn>("GetFileLanguage");
    const std::string plain = dir.File("plain.txt");
    WriteFileBytes(plain, Pattern(200, 1));
    for (const std::string& path : {plain, dir.File("missing.dll")}) {
        int low = 5, high = 5;
        char name[12] = "xxxxxxxxxxx";
        EXPECT_EQ(language(path.c_str(), &low, &high, name), -1) << path;
        EXPECT_EQ(low, 0);
        EXPECT_EQ(high, 0);
        EXPECT_STREQ(name, "Unavailable") << "fits the 12-byte buffer with its NUL";
    }
}

} // namespace
