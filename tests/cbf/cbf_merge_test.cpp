// MergeCbfWalk on real files through the POSIX platform.
#include "tests/cbf/cbf_reference_merge.h"
#include "tests/cbf/cbf_test_files.h"

#include <algorithm>
#include <csignal>
#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace setupsup;
using namespace setupsup_test;

namespace {

class MergeTest : public CbfFilesTest {
protected:
    int Merge(const std::string& source, const std::string& target)
    {
        return Run([&](CbfPlatform& p) { return MergeCbfWalk(p, source.c_str(), target.c_str()); });
    }
    // Merges and returns the target's bytes, expecting success.
    Bytes Merged(const CbfImage& source, const CbfImage& target)
    {
        const std::string s = Write("src.cbf", source), t = Write("dst.cbf", target);
        EXPECT_EQ(Merge(s, t), 0);
        return ReadBytes(t);
    }
    static Bytes BlockBytes(const Bytes& file, const ProcMapEntry& e)
    {
        return Slice(file, e.blockOffset, uint64_t{e.blockLength} + 4);
    }
};

TEST_F(MergeTest, BlocksThatFitAreWrittenOverTheOldOnes)
{
    CbfImage target;
    target.Block(0, 100, 10).Block(1, 200, 11).Block(2, 30, 12);
    CbfImage source;
    source.Block(0, 60, 20).Block(1, 200, 21); // shorter, and equal
    source.Entry(1).info1 = 0xBEEF;
    const Bytes before = target.Build();
    const Bytes after = Merged(source, target);
    ASSERT_EQ(after.size(), before.size()) << "nothing appended";
    const auto map = MapOf(after, 250), old = MapOf(before, 250);
    const auto src = MapOf(source.Build(), 250);
    for (int i : {0, 1}) {
        EXPECT_EQ(map[i].blockOffset, old[i].blockOffset) << i;
        EXPECT_EQ(map[i].blockLength, src[i].blockLength) << i;
        EXPECT_EQ(BlockBytes(after, map[i]), BlockBytes(source.Build(), src[i])) << i;
    }
    EXPECT_EQ(map[1].info1, 0xBEEFu);
    EXPECT_TRUE(SameEntry(map[2], old[2]));
    // The old block's tail stays behind as dead space.
    EXPECT_EQ(Slice(after, old[0].blockOffset + 64, 40), Slice(before, old[0].blockOffset + 64, 40));
}

// Blocks on either side of half the copy buffer (gathered, or moved through
// the whole buffer) and one a byte larger than the buffer (two transfers),
// each a stretch of its own: in the source they lie in another order than
// the one they are appended in.
TEST_F(MergeTest, BlocksAroundTheCopyBufferSizesAreAppendedWhole)
{
    constexpr uint32_t kHalf = kCbfCopyBufferSize / 2, kWhole = kCbfCopyBufferSize;
    CbfImage target;
    target.Block(0, 10, 1).Block(1, 10, 2).Block(2, 10, 3).Block(3, 10, 4);
    CbfImage source;
    source.Block(3, 60, 5).Block(0, kHalf - 4, 6).Block(2, kWhole + 1 - 4, 7).Block(1, kHalf + 1 - 4, 8);
    const Bytes before = target.Build();
    const Bytes after = Merged(source, target);
    ASSERT_EQ(after.size(), before.size() + kHalf + (kHalf + 1) + (kWhole + 1) + 64);
    const auto map = MapOf(after, 250), src = MapOf(source.Build(), 250);
    EXPECT_EQ(map[0].blockOffset, before.size());
    EXPECT_EQ(map[1].blockOffset, before.size() + kHalf);
    EXPECT_EQ(map[2].blockOffset, before.size() + kHalf + kHalf + 1);
    EXPECT_EQ(map[3].blockOffset, before.size() + kHalf + kHalf + 1 + kWhole + 1);
    for (int i : {0, 1, 2, 3})
        EXPECT_EQ(BlockBytes(after, map[i]), BlockBytes(source.Build(), src[i])) << i;
    EXPECT_EQ(Slice(after, 6021, 56), Slice(before, 6021, 56)) << "old blocks left as dead space";
    // Maps, then one copy buffer, of its largest size, for both runs.
    EXPECT_EQ(platform.allocations, (std::vector<size_t>{6000, 6000, kCbfCopyBufferSize}));
}

// Small blocks bound for consecutive places of the target are gathered and
// written in one transfer, wherever they lie in the source; a merge with
// little to copy allocates a buffer for what it copies, not the largest.
TEST_F(MergeTest, SmallBlocksAreGatheredIntoOneWrite)
{
    CbfImage target;
    CbfImage source;
    for (int32_t i = 0; i < 200; ++i) {
        target.Block(i, 4, static_cast<unsigned char>(i));
        source.Block(199 - i, 96, static_cast<unsigned char>(i + 7)); // in the reverse order
    }
    const Bytes after = Merged(source, target);
    const auto map = MapOf(after, 250), src = MapOf(source.Build(), 250);
    for (int32_t i = 0; i < 200; ++i) {
        ASSERT_EQ(map[i].blockOffset, target.Size() + 100u * static_cast<uint32_t>(i)) << i;
        ASSERT_EQ(BlockBytes(after, map[i]), BlockBytes(source.Build(), src[i])) << i;
    }
    EXPECT_EQ(platform.writes, 2) << "the blocks in one transfer, then the map";
    EXPECT_EQ(platform.allocations.back(), 2u * 200 * 100) << "room for the blocks in each half";
}

TEST_F(MergeTest, EntriesWithoutDataOrNotPresent)
{
    CbfImage target;
    target.Block(0, 10, 1).Block(1, 10, 2).Block(2, 10, 3);
    CbfImage source;
    source.Block(0, 5, 4).Block(2, 5, 6);
    source.Entry(0).present = 0;                // skipped, block and all
    source.Entry(1) = {7, 8, 1, 9, 0, 0x12345}; // entry only
    source.Entry(2).present = 7;                // any non-zero counts
    const Bytes before = target.Build();
    const Bytes after = Merged(source, target);
    const auto map = MapOf(after, 250), old = MapOf(before, 250);
    EXPECT_TRUE(SameEntry(map[0], old[0]));
    EXPECT_TRUE(SameEntry(map[1], (ProcMapEntry{7, 8, 1, 9, 0, 0x12345})));
    EXPECT_EQ(map[2].present, 1u);
    EXPECT_EQ(map[2].blockOffset, old[2].blockOffset);
    EXPECT_EQ(after.size(), before.size());
}

TEST_F(MergeTest, ShorterSourceLeavesTheRestAlone)
{
    CbfImage target(300);
    target.Block(260, 10, 1).Block(299, 10, 2);
    CbfImage source(250);
    source.Block(0, 10, 3);
    const Bytes before = target.Build();
    const auto map = MapOf(Merged(source, target), 300), old = MapOf(before, 300);
    for (int i = 250; i < 300; ++i)
        EXPECT_TRUE(SameEntry(map[i], old[i])) << i;
    EXPECT_EQ(map[0].present, 1u);
}

TEST_F(MergeTest, RefusalsLeaveTheTargetUntouched)
{
    CbfImage target(250);
    target.Block(0, 10, 1);
    const std::string t = Write("dst.cbf", target);
    CbfImage longer(251);
    longer.Block(0, 5, 2).Block(250, 5, 3);
    EXPECT_EQ(Merge(Write("longer.cbf", longer), t), 3) << "more procs than the target holds";
    EXPECT_EQ(Merge(Write("bad.cbf", CbfImage().Revision(5)), t), 3);
    EXPECT_EQ(Merge(Path("missing.cbf"), t), 3);
    EXPECT_EQ(ReadBytes(t), target.Build());
    EXPECT_EQ(platform.writes, 0);
    EXPECT_EQ(platform.restores, 3) << "each refusal gives the times back";
    EXPECT_EQ(Merge(t, Path("missing.cbf")), -1);
    EXPECT_EQ(Merge(t, Write("badtarget.cbf", CbfImage(100))), 3);
}

// A truncated target keeps offsets at or past its end. None of them may be
// written in place: each block goes to the end, and no two overlap.
TEST_F(MergeTest, TruncatedTargetGetsEveryBlockAppended)
{
    CbfImage target;
    target.Block(0, 100, 1).Block(1, 100, 2).Block(2, 100, 3);
    const std::string t = Write("dst.cbf", target);
    ASSERT_EQ(Run([&](CbfPlatform& p) { return TruncateCbfWalk(p, t.c_str()); }), 0);
    CbfImage source;
    source.Block(0, 300, 4).Block(1, 50, 5).Block(2, 60, 6);
    const std::string s = Write("src.cbf", source);
    ASSERT_EQ(Merge(s, t), 0);
    const Bytes after = ReadBytes(t), src = source.Build();
    const auto map = MapOf(after, 250), srcMap = MapOf(src, 250);
    ASSERT_EQ(after.size(), 6021u + 304 + 54 + 64);
    EXPECT_EQ(map[0].blockOffset, 6021u);
    EXPECT_EQ(map[1].blockOffset, 6021u + 304);
    EXPECT_EQ(map[2].blockOffset, 6021u + 304 + 54);
    for (int i : {0, 1, 2})
        EXPECT_EQ(BlockBytes(after, map[i]), BlockBytes(src, srcMap[i])) << i;
}

TEST_F(MergeTest, OldRegionsOutsideTheDataOrSharedAreNotReused)
{
    CbfImage target;
    target.Block(0, 100, 1).Block(1, 20, 2);
    target.Entry(2) = {0, 0, 1, 0, 0, 0xFFFF};       // no block, huge length: header
    target.Entry(3) = {0, 0, 1, 0, 6021, 10};        // shares entry 0's bytes
    target.Entry(4) = {0, 0, 1, 0, 6000, 100};       // starts inside the map
    target.Entry(5) = {0, 0, 0, 0, 6021 + 104, 200}; // runs past the end
    CbfImage source;
    for (int i : {2, 3, 4, 5})
        source.Block(i, 8, static_cast<unsigned char>(i));
    const Bytes before = target.Build();
    const Bytes after = Merged(source, target);
    ASSERT_EQ(after.size(), before.size() + 4 * 12);
    EXPECT_EQ(Slice(after, 0, 21), Slice(before, 0, 21));
    EXPECT_EQ(Slice(after, 6021, before.size() - 6021), Slice(before, 6021, before.size() - 6021))
        << "no byte of the old data region was overwritten";
}

// Each of these alone would aim an in-place write at the header, or past
// the end of the file leaving a hole.
TEST_F(MergeTest, StaleRegionsWithNoNeighbourAreNotReused)
{
    for (ProcMapEntry stale : {ProcMapEntry{0, 0, 1, 0, 0, 100}, ProcMapEntry{0, 0, 0, 0, 7000, 100}}) {
        CbfImage target;
        target.Entry(9) = stale;
        CbfImage source;
        source.Block(9, 8, 1);
        const Bytes before = target.Build();
        const Bytes after = Merged(source, target);
        EXPECT_EQ(after.size(), before.size() + 12) << stale.blockOffset;
        EXPECT_EQ(Slice(after, 0, 21), Slice(before, 0, 21));
        EXPECT_EQ(MapOf(after, 250)[9].blockOffset, 6021u) << stale.blockOffset;
    }
}

TEST_F(MergeTest, HugeLengthFailsInsteadOfWrapping)
{
    CbfImage target;
    target.Block(0, 10, 1);
    CbfImage source;
    source.Block(0, 10, 2);
    source.Entry(0).blockLength = 0xFFFFFFFF; // +4 wraps to 3 in 32 bits
    const std::string s = Write("src.cbf", source), t = Write("dst.cbf", target);
    EXPECT_EQ(Merge(s, t), 6);
    const Bytes after = ReadBytes(t);
    EXPECT_EQ(Slice(after, 0, 6021), Slice(target.Build(), 0, 6021)) << "map not rewritten";
    EXPECT_EQ(platform.writes, 0);
    EXPECT_EQ(platform.restores, 1) << "refused before any write: the times go back";
}

TEST_F(MergeTest, NullSourceReadsTheDefaultFile)
{
    CbfImage source;
    source.Block(7, 10, 9);
    Write("ZORBDLG.CBF", source);
    const std::string t = Write("dst.cbf", CbfImage());
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    const int result = Run([&](CbfPlatform& p) { return MergeCbfWalk<char>(p, nullptr, t.c_str()); });
    std::filesystem::current_path(cwd);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(MapOf(ReadBytes(t), 250)[7].present, 1u);
}

TEST_F(MergeTest, TimesAreKeptTo100Nanoseconds)
{
    CbfImage source;
    source.Block(0, 10, 1);
    const std::string s = Write("src.cbf", source), t = Write("dst.cbf", CbfImage());
    const timespec times[2] = {{981173106, 123456789}, {981173107, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, t.c_str(), times, 0), 0);
    ASSERT_EQ(Merge(s, t), 0);
    struct stat info;
    ASSERT_EQ(stat(t.c_str(), &info), 0);
    EXPECT_EQ(info.st_atim.tv_sec, 981173106);
    EXPECT_EQ(info.st_atim.tv_nsec, 123456700);
    EXPECT_EQ(info.st_mtim.tv_sec, 981173107);
    EXPECT_EQ(info.st_mtim.tv_nsec, 987654300);
    EXPECT_GT(ReadBytes(t).size(), 6021u) << "the merge did write";
}

TEST_F(MergeTest, LockedTargetIsRefused)
{
    CbfImage source;
    source.Block(0, 10, 1);
    const std::string s = Write("src.cbf", source), t = Write("dst.cbf", CbfImage());
    // Another open description holding a lock, as another process would.
    int fd = open(t.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    const int result = Merge(s, t);
    close(fd);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(ReadBytes(t), CbfImage().Build());
}

// ---- The planned merge: nothing written before every block is known good ----

// An update cut short inside its last block: the blocks before it, one in
// place and one appended, are not written either.
TEST_F(MergeTest, CutUpdateIsRefusedBeforeAnyWrite)
{
    CbfImage target;
    target.Block(0, 100, 1).Block(1, 10, 2).Block(2, 10, 3);
    CbfImage source;
    source.Block(0, 50, 4).Block(1, 500, 5).Block(2, 300, 6);
    Bytes cut = source.Build();
    cut.resize(cut.size() - 100);
    const std::string s = Path("cut.cbf"), t = Write("dst.cbf", target);
    WriteBytes(s, cut);
    EXPECT_EQ(Merge(s, t), 6);
    EXPECT_EQ(ReadBytes(t), target.Build());
    EXPECT_EQ(platform.writes, 0);
    EXPECT_EQ(platform.restores, 1) << "refused before any write: the times go back";
}

// A disk that fills while blocks are appended: the block that would go in
// place is not yet written, so the file's old bytes and map are intact.
TEST_F(MergeTest, FullDiskWhileAppendingLeavesTheOldBytes)
{
    CbfImage target;
    target.Block(0, 100, 1).Block(1, 10, 2);
    CbfImage source;
    source.Block(0, 50, 3).Block(1, 200000, 4);
    const std::string s = Write("src.cbf", source), t = Write("dst.cbf", target);
    const Bytes before = target.Build();
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
    rlimit limited = old;
    limited.rlim_cur = before.size() + 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = Merge(s, t);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, 7);
    EXPECT_EQ(Slice(ReadBytes(t), 0, before.size()), before);
}

// Random pairs of files, merged by the planned walk and by the reference
// walk: same result, and on success the same bytes. Targets carry stale
// entries (on the header, past the end, sharing bytes), updates are longer
// or shorter per block and sometimes cut short, as damaged files are. In
// every other round both files store their blocks in index order, as
// written files do, so that neighbouring blocks are copied as one stretch
// and a shorter block in place ends one.
TEST_F(MergeTest, PlannedMergeAgreesWithTheReferenceWalk)
{
    std::mt19937 rng(20240611);
    auto below = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    // n random indices below 250, ascending in the rounds of ordered files.
    auto indices = [&](int n, bool ordered) {
        std::vector<int32_t> chosen(static_cast<size_t>(n));
        for (int32_t& i : chosen)
            i = static_cast<int32_t>(below(250));
        if (ordered)
            std::sort(chosen.begin(), chosen.end());
        return chosen;
    };
    int succeeded = 0, refused = 0;
    for (int round = 0; round < 100; ++round) {
        const bool ordered = round % 2 == 1;
        CbfImage target(250 + static_cast<int32_t>(below(4)));
        CbfImage source(250 + static_cast<int32_t>(below(3)));
        const uint32_t lengths[] = {0, 7, 60, 300, 8188, 8189, 9000};
        unsigned char seed = 0; // a pattern of its own for every block
        for (int32_t i : indices(40, ordered))
            target.Block(i, lengths[below(6)], seed++);
        for (int k = 0; k < 6; ++k) { // stale and shared entries
            ProcMapEntry& e = target.Entry(static_cast<int32_t>(below(250)));
            const uint32_t kind = below(3);
            e.blockOffset = kind == 0 ? 0 : kind == 1 ? 6021 + below(100000) : target.Entry(below(250)).blockOffset + 4;
            e.blockLength = below(500);
        }
        for (int32_t i : indices(50, ordered)) {
            source.Block(i, lengths[below(7)], seed++);
            source.Entry(i).present = below(5) == 0 ? 0 : below(3);
            if (below(10) == 0)
                source.Entry(i).blockOffset = 0;
        }
        Bytes update = source.Build();
        if (below(4) == 0)
            update.resize(update.size() - below(20000) % update.size());
        const Bytes before = target.Build();
        const std::string s = Path("src.cbf"), planned = Path("planned.cbf"), walked = Path("walked.cbf");
        WriteBytes(s, update);
        WriteBytes(planned, before);
        WriteBytes(walked, before);
        const int expected = reference::Merge(s.c_str(), walked.c_str());
        ASSERT_EQ(Merge(s, planned), expected) << "round " << round;
        if (expected == 0) {
            ASSERT_EQ(ReadBytes(planned), ReadBytes(walked)) << "round " << round;
            ++succeeded;
        } else {
            ASSERT_EQ(ReadBytes(planned), before) << "round " << round << ": refused, yet written";
            ++refused;
        }
    }
    EXPECT_GT(succeeded, 40) << refused;
    EXPECT_GT(refused, 10) << succeeded;
}

} // namespace
