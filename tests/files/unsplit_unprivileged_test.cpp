// UnsplitFile, MatchFileDate and the CBF exports on read-only files and on files this user
// may write but whose times it may not set (they belong to another user).
// The build runs this program as an unprivileged user (Wine run by root
// writes read-only files and sets any file's times); preconditions check
// that read-only files really are read-only here, and that the times of the
// other user's files cannot be set.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cbf/cbf_image.h"
#include "tests/common/test_support.h"

using namespace setupsup_test;

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);

bool MakeReadOnly(const std::string& path)
{
    return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != FALSE;
}

// A file with content, distinct past times and the read-only attribute if
// asked; returns the times the system reports for it.
FileTimes PrepareFile(const std::string& path, size_t bytes, int seed, bool readOnly)
{
    WriteFileBytes(path, std::vector<uint8_t>(bytes, static_cast<uint8_t>(seed)));
    EXPECT_TRUE(SetTimes(path, DistinctTimes(seed)));
    if (readOnly) {
        EXPECT_TRUE(MakeReadOnly(path)) << path;
    }
    FileTimes times;
    EXPECT_TRUE(GetTimes(path, &times));
    return times;
}

// A file of another user that this one may write, from the folder the
// build provides; empty when there is none (not run as root).
std::string ForeignFile(int n)
{
    const char* dir = std::getenv("SETUPSUP_FOREIGN_DIR");
    return dir ? std::string(dir) + "\\foreign-" + std::to_string(n) + ".bin" : std::string();
}

void RequireReadOnlyFilesToBeReadOnly()
{
    ScratchDir dir;
    const std::string path = dir.File("locked.bin");
    PrepareFile(path, 10, 1, true);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    ASSERT_EQ(file, INVALID_HANDLE_VALUE) << "this program must run where read-only files are read-only";
    ASSERT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

[[maybe_unused]] testing::Environment* const g_readOnly =
    testing::AddGlobalTestEnvironment(Precondition(RequireReadOnlyFilesToBeReadOnly));

// Tests on files of another user, which the build provides only when the
// tests run as root. Such a file opens for reading and writing, but its
// times cannot be set: SetFileTime fails with ERROR_ACCESS_DENIED.
class ForeignFiles : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string foreign = ForeignFile(1);
        if (foreign.empty())
            GTEST_SKIP() << "needs files of another user; the build provides them when the tests run as root";
        HANDLE file = CreateFileA(foreign.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << foreign << " opens for reading and writing";
        const FileTimes times = DistinctTimes(2);
        BOOL set = SetFileTime(file, &times.creation, &times.lastAccess, &times.lastWrite);
        DWORD error = GetLastError();
        CloseHandle(file);
        ASSERT_FALSE(set) << "the times of another user's file cannot be set here";
        ASSERT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
};

} // namespace

TEST(UnsplitFile, ReadOnlyTargetOrPieceChangesNothing)
{
    auto unsplit = Export<TwoPaths>("UnsplitFile");
    ASSERT_NE(unsplit, nullptr);
    for (bool readOnlyTarget : {true, false}) {
        ScratchDir dir;
        const std::string target = dir.File("whole.bin"), piece = dir.File("piece.bin");
        const char* what = readOnlyTarget ? "read-only target" : "read-only piece";
        const FileTimes targetTimes = PrepareFile(target, 100, 3, readOnlyTarget);
        const FileTimes pieceTimes = PrepareFile(piece, 50, 4, !readOnlyTarget);

        // The target is opened once, exclusively, and nothing of it is read
        // before the piece is refused: all three times are kept (under Wine
        // too, where a read moves a last-access time older than a day).
        EXPECT_EQ(unsplit(target.c_str(), piece.c_str()), -1) << what;
        ExpectSameTimes(target, targetTimes, what);
        ExpectSameTimes(piece, pieceTimes, what);
        EXPECT_EQ(ReadFileBytes(target), std::vector<uint8_t>(100, 3)) << what << ": the target's bytes";
        EXPECT_EQ(ReadFileBytes(piece), std::vector<uint8_t>(50, 4)) << what << ": the piece's bytes";
    }
}

// An installed CBF file that may be read but not written is refused with 3,
// as a file the walks cannot open for update, not with -1 (a file missing or
// in use), and keeps its bytes and times.
TEST(CbfExports, ReadOnlyInstalledFileIsRefusedWithThree)
{
    auto merge = Export<TwoPaths>("MergeCbf");
    auto prune = Export<TwoPaths>("PruneCbf");
    auto truncate = Export<int(WINAPI*)(const char*)>("TruncateCbf");
    ASSERT_TRUE(merge && prune && truncate);
    ScratchDir dir;
    CbfImage installed, update;
    installed.Block(1, 40, 1);
    update.Block(1, 80, 2);
    const std::string source = MakeFile(dir, "update.cbf", update.Build());
    const std::string target = MakeFile(dir, "installed.cbf", installed.Build(), 9);
    ASSERT_TRUE(MakeReadOnly(target));
    const FileTimes before = TimesOf(target);
    EXPECT_EQ(merge(source.c_str(), target.c_str()), 3);
    EXPECT_EQ(prune(source.c_str(), target.c_str()), 3);
    EXPECT_EQ(truncate(target.c_str()), 3);
    ExpectSameTimes(target, before, "read-only installed file");
    EXPECT_EQ(ReadFileBytes(target), installed.Build());
}

TEST(MatchFileDate, ReadOnlyTargetIsRefusedAndReadOnlySourceIsRead)
{
    auto match = Export<TwoPaths>("MatchFileDate");
    ASSERT_NE(match, nullptr);
    ScratchDir dir;
    const std::string source = dir.File("source.bin"), target = dir.File("target.bin");
    const FileTimes sourceTimes = PrepareFile(source, 10, 5, true);
    const FileTimes targetTimes = PrepareFile(target, 10, 6, true);
    EXPECT_EQ(match(source.c_str(), target.c_str()), -2) << "read-only target";
    ExpectSameTimes(target, targetTimes, "refused read-only target");

    // The source is only read: a read-only source gives its times.
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(match(source.c_str(), target.c_str()), 0) << "read-only source, writable target";
    ExpectSameTimes(target, sourceTimes, "target of a read-only source");
    ExpectSameTimes(source, sourceTimes, "read-only source");
}

TEST_F(ForeignFiles, MatchFileDateOnATargetWhoseTimesCannotBeSetGivesMinus4)
{
    const std::string target = ForeignFile(2);
    ScratchDir dir;
    const std::string source = dir.File("source.bin");
    PrepareFile(source, 10, 7, false);
    FileTimes before;
    ASSERT_TRUE(GetTimes(target, &before));
    EXPECT_EQ(Export<TwoPaths>("MatchFileDate")(source.c_str(), target.c_str()), -4);
    ExpectSameTimes(target, before, "target whose times cannot be set");
}

TEST_F(ForeignFiles, UnsplitFileWhoseTimesCannotBeRestoredGivesMinus1WithThePieceAppended)
{
    const std::string target = ForeignFile(3);
    ScratchDir dir;
    const std::string piece = dir.File("piece.bin");
    const std::vector<uint8_t> first(100, 8), pieceBytes(5000, 9);
    WriteFileBytes(target, first);
    WriteFileBytes(piece, pieceBytes);
    EXPECT_EQ(Export<TwoPaths>("UnsplitFile")(target.c_str(), piece.c_str()), -1)
        << "the append completed, the times could not be written back";
    std::vector<uint8_t> joined = first;
    joined.insert(joined.end(), pieceBytes.begin(), pieceBytes.end());
    EXPECT_EQ(ReadFileBytes(target), joined) << "the data stays appended";
}
