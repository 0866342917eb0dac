// UnsplitFile through setupsup.dll on real files. As elsewhere, Wine reports
// the last-write time as the creation time, so times are compared with what
// the system reported before the call. Read-only targets and targets whose
// times cannot be restored are tested as an unprivileged user
// (unsplit_unprivileged_test), failing writes with a file size limit
// (unsplit_full_disk_test), a failing read through the join's reader
// (unsplit_read_error_test). Not produced anywhere: the seek of a file
// stream to its end failing (-6), which does not happen to a local file
// under Wine.
#include "frame/unique_handles.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace setupsup_test;

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);

TEST(UnsplitFile, JoinsPiecesInOrderAndKeepsTheFirstFilesTimes)
{
    ScratchDir dir;
    auto unsplit = Export<TwoPaths>("UnsplitFile");
    ASSERT_NE(unsplit, nullptr);
    std::vector<uint8_t> expected = Pattern(1000, 1);
    const std::string target = MakeFile(dir, "whole.bin", expected, 3);
    const FileTimes before = TimesOf(target);
    // Empty, small, exactly the copy buffer (256 KiB), one byte over, and
    // several MiB.
    const size_t sizes[] = {0, 4097, 256 * 1024, 256 * 1024 + 1, 3 * 1024 * 1024 + 17};
    int n = 0;
    for (size_t size : sizes) {
        const std::vector<uint8_t> bytes = Pattern(size, static_cast<uint8_t>(40 + n));
        const std::string piece = MakeFile(dir, "piece" + std::to_string(n++), bytes);
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
    const std::string target = MakeFile(dir, "whole.bin", Pattern(100, 2), 4);
    const std::string piece = MakeFile(dir, "piece.bin", Pattern(50, 3));
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
    const std::vector<uint8_t> bytes = Pattern(10000, 5);
    const std::string path = MakeFile(dir, "self.bin", bytes);
    EXPECT_EQ(Export<TwoPaths>("UnsplitFile")(path.c_str(), path.c_str()), 0);
    std::vector<uint8_t> doubled = bytes;
    doubled.insert(doubled.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(ReadFileBytes(path), doubled) << "bounded: the file ends up doubled";
}

// The target is held through one exclusive open for the whole call: another
// process that tries to open it meanwhile, sharing everything, is refused
// from the first byte appended to the last.
TEST(UnsplitFile, OtherProcessesAreHeldOutForTheWholeJoin)
{
    ScratchDir dir;
    const std::string target = MakeFile(dir, "whole.bin", Pattern(1000, 6), 8);
    const std::string piece = MakeFile(dir, "piece.bin", Pattern(48 * 1024 * 1024, 7));
    const FileTimes before = TimesOf(target);
    // Resolved before: the first lookup loads the DLL, which takes longer
    // than the prober's margins allow for.
    const auto unsplit = Export<TwoPaths>("UnsplitFile");
    ASSERT_NE(unsplit, nullptr);
    EXPECT_EQ(OpenProber(target).ExpectHeldOut([&] { return unsplit(target.c_str(), piece.c_str()); }, -1), 0);
    ExpectSameTimes(target, before);
}

} // namespace
