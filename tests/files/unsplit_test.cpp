// UnsplitFile, MatchFileDate and GetFileLanguage through setupsup.dll on real
// files. As elsewhere, Wine reports the last-write time as the creation time,
// so times are compared with what the system reported before the call.
#include "frame/unique_handles.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace setupsup_test;

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);
using LanguageFn = int(WINAPI*)(const char*, int*, int*, char*);

TEST(UnsplitFile, JoinsPiecesInOrderAndKeepsTheFirstFilesTimes)
{
    ScratchDir dir;
    auto unsplit = Export<TwoPaths>("UnsplitFile");
    ASSERT_NE(unsplit, nullptr);
    const std::string target = dir.File("whole.bin");
    std::vector<uint8_t> expected = Pattern(1000, 1);
    WriteFileBytes(target, expected);
    ASSERT_TRUE(SetTimes(target, DistinctTimes(3)));
    const FileTimes before = TimesOf(target);
    // Empty, exactly one buffer, one byte over, and several MiB.
    const size_t sizes[] = {0, 4096, 4097, 3 * 1024 * 1024 + 17};
    int n = 0;
    for (size_t size : sizes) {
        const std::string piece = dir.File("piece" + std::to_string(n));
        const std::vector<uint8_t> bytes = Pattern(size, static_cast<uint8_t>(40 + n++));
        WriteFileBytes(piece, bytes);
        ASSERT_EQ(unsplit(target.c_str(), piece.c_str()), 0) << "appending " << size << " bytes";
        ExpectSameTimes(target, before);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(ReadFileBytes(target), expected) << "the concatenation, in order";
}

TEST(UnsplitFile, MissingOrHeldFilesChangeNothing)
{
    ScratchDir dir;
    auto unsplit = Export<TwoPaths>("UnsplitFile");
    const std::string target = dir.File("whole.bin"), piece = dir.File("piece.bin");
    WriteFileBytes(target, Pattern(100, 2));
    WriteFileBytes(piece, Pattern(50, 3));
    ASSERT_TRUE(SetTimes(target, DistinctTimes(4)));
    const std::vector<uint8_t> old = ReadFileBytes(target);
    const FileTimes before = TimesOf(target);

    EXPECT_EQ(unsplit(target.c_str(), dir.File("missing.bin").c_str()), -1) << "missing piece";
    EXPECT_EQ(unsplit(dir.File("absent.bin").c_str(), piece.c_str()), -1) << "missing target";
    EXPECT_FALSE(FileExists(dir.File("absent.bin"))) << "no target is created";
    {
        setupsup::unique_hfile holder(CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(unsplit(target.c_str(), piece.c_str()), -1) << "target held open by another handle";
    }
    {
        setupsup::unique_hfile holder(CreateFileA(piece.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(unsplit(target.c_str(), piece.c_str()), -1) << "piece held open without sharing";
    }
    ExpectSameTimes(target, before);
    EXPECT_EQ(ReadFileBytes(target), old);
}

TEST(UnsplitFile, SamePathCopiesTheOriginalBytesOnce)
{
    ScratchDir dir;
    const std::string path = dir.File("self.bin");
    const std::vector<uint8_t> bytes = Pattern(10000, 5);
    WriteFileBytes(path, bytes);
    EXPECT_EQ(Export<TwoPaths>("UnsplitFile")(path.c_str(), path.c_str()), 0);
    std::vector<uint8_t> doubled = bytes;
    doubled.insert(doubled.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(ReadFileBytes(path), doubled) << "bounded: the file ends up doubled";
}

TEST(MatchFileDate, CopiesTheThreeTimesRoleForRole)
{
    ScratchDir dir;
    auto match = Export<TwoPaths>("MatchFileDate");
    ASSERT_NE(match, nullptr);
    const std::string source = dir.File("source.bin"), target = dir.File("target.bin");
    WriteFileBytes(source, Pattern(10, 1));
    WriteFileBytes(target, Pattern(10, 2));
    ASSERT_TRUE(SetTimes(source, DistinctTimes(7)));
    ASSERT_TRUE(SetTimes(target, DistinctTimes(9)));
    const FileTimes sourceTimes = TimesOf(source);
    ASSERT_EQ(match(source.c_str(), target.c_str()), 0);
    ExpectSameTimes(target, sourceTimes);
    ExpectSameTimes(source, sourceTimes);
}

// Read-only targets and targets whose times cannot be set (-4) are tested
// as an unprivileged user (unsplit_unprivileged_test), failing writes with a
// file size limit (unsplit_full_disk_test), a failing read through the
// join's reader (unsplit_read_error_test). Not produced anywhere: GetFileTime
// failing on a handle that just opened for reading (MatchFileDate -3), and
// the seek of a file stream to its end failing (UnsplitFile -6); neither
// happens to a local file under Wine.
TEST(MatchFileDate, FailuresChangeNoTimes)
{
    ScratchDir dir;
    auto match = Export<TwoPaths>("MatchFileDate");
    const std::string file = dir.File("file.bin");
    WriteFileBytes(file, Pattern(10, 1));
    ASSERT_TRUE(SetTimes(file, DistinctTimes(11)));
    const FileTimes before = TimesOf(file);
    EXPECT_EQ(match(dir.File("missing").c_str(), file.c_str()), -1) << "missing source";
    EXPECT_EQ(match(file.c_str(), dir.File("missing").c_str()), -2) << "missing target";
    EXPECT_EQ(match(file.c_str(), file.c_str()), -2) << "same path: the source is already held exclusively";
    ExpectSameTimes(file, before);
}

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
