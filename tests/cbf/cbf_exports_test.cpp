// MergeCbf, PruneCbf and TruncateCbf through setupsup.dll, loaded by name as
// an installer loads it, on real files: the time stamps survive to the
// 100 ns, an exclusive holder of the target stops the call before anything
// changes, a bad source leaves the target untouched, and nothing leaks.
//
// Wine ignores the creation time given to SetFileTime and reports the last
// write time in its place, so the checks compare all three times with what
// the system reported before the call: on Windows that checks the creation
// time too, under Wine it checks last access and last write.
#include "frame/unique_handles.h"
#include "tests/cbf/cbf_image.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

using namespace setupsup_test;

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);
using OnePath = int(WINAPI*)(const char*);

TwoPaths Merge() { return Export<TwoPaths>("MergeCbf"); }
TwoPaths Prune() { return Export<TwoPaths>("PruneCbf"); }
OnePath Truncate() { return Export<OnePath>("TruncateCbf"); }

class CbfExports : public testing::Test {
protected:
    // Writes image as name and gives it distinct, 100 ns precise times.
    std::string Install(const std::string& name, const CbfImage& image, int timeSeed)
    {
        std::string path = dir.File(name);
        WriteBytes(path, image.Build());
        EXPECT_TRUE(SetTimes(path, DistinctTimes(timeSeed)));
        return path;
    }

    ScratchDir dir;
};

TEST_F(CbfExports, ExportedUnderTheirOwnNames)
{
    EXPECT_NE(Merge(), nullptr);
    EXPECT_NE(Prune(), nullptr);
    EXPECT_NE(Truncate(), nullptr);
}

TEST_F(CbfExports, MergeWritesInPlaceAppendsAndKeepsTimes)
{
    // Entry 1's new block fits its old one (in place); entry 2's does not
    // (appended); entry 3 is new and absent from the target.
    CbfImage installed;
    installed.Block(1, 100, 0x11).Block(2, 10, 0x22);
    CbfImage update;
    update.Block(1, 60, 0xA1).Block(2, 300, 0xA2).Block(3, 8188, 0xA3);
    const std::string target = Install("installed.cbf", installed, 1);
    const std::string source = Install("update.cbf", update, 2);
    const Bytes old = ReadBytes(target);
    const FileTimes before = TimesOf(target); // after our own read, which may touch last access

    ASSERT_EQ(Merge()(source.c_str(), target.c_str()), 0);
    ExpectSameTimes(target, before);

    const Bytes now = ReadBytes(target);
    const std::vector<ProcMapEntry> oldMap = MapOf(old, 250), map = MapOf(now, 250);
    EXPECT_EQ(map[1].blockOffset, oldMap[1].blockOffset) << "a block that fits is written over the old one";
    EXPECT_EQ(map[2].blockOffset, old.size()) << "a longer block is appended at the old end";
    EXPECT_EQ(map[3].blockOffset, old.size() + 304) << "then the new proc's block after it";
    EXPECT_EQ(now.size(), old.size() + 304 + 8192) << "the file grows by the appended blocks only";
    EXPECT_EQ(Slice(now, map[1].blockOffset, 64), BlockPattern(64, 0xA1));
    EXPECT_EQ(Slice(now, map[2].blockOffset, 304), BlockPattern(304, 0xA2));
    EXPECT_EQ(Slice(now, map[3].blockOffset, 8192), BlockPattern(8192, 0xA3))
        << "8188 + 4 bytes: the copy buffer's size";
    for (int i : {1, 2, 3}) {
        EXPECT_EQ(map[i].present, 1u);
        EXPECT_EQ(map[i].blockLength, MapOf(update.Build(), 250)[i].blockLength);
    }
    EXPECT_EQ(Slice(now, 0, 21), Slice(old, 0, 21)) << "the header is never written";
}

TEST_F(CbfExports, MergeCopiesABlockLongerThanTheCopyBuffer)
{
    CbfImage update;
    update.Block(7, 8189, 0x5C); // 8193 bytes: one more than the copy buffer holds
    const std::string target = Install("installed.cbf", CbfImage(), 3);
    const std::string source = Install("update.cbf", update, 4);
    ASSERT_EQ(Merge()(source.c_str(), target.c_str()), 0);
    const Bytes now = ReadBytes(target);
    EXPECT_EQ(now.size(), 21u + 250 * 24 + 8193);
    EXPECT_EQ(Slice(now, MapOf(now, 250)[7].blockOffset, 8193), BlockPattern(8193, 0x5C));
}

TEST_F(CbfExports, TargetHeldOpenElsewhereIsRefusedUnchanged)
{
    CbfImage update;
    update.Block(0, 20, 1);
    const std::string target = Install("installed.cbf", CbfImage(), 5);
    const std::string source = Install("update.cbf", update, 6);
    const Bytes old = ReadBytes(target);
    const FileTimes before = TimesOf(target);
    {
        // Another reader that shares everything still denies the exclusive open.
        setupsup::unique_hfile holder(CreateFileA(target.c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(Merge()(source.c_str(), target.c_str()), -1);
        EXPECT_EQ(Prune()(source.c_str(), target.c_str()), -1);
        EXPECT_EQ(Truncate()(target.c_str()), -1);
    }
    ExpectSameTimes(target, before);
    EXPECT_EQ(ReadBytes(target), old) << "nothing written while another handle held the target";
}

TEST_F(CbfExports, BadSourceGivesThreeAndLeavesTargetUntouched)
{
    CbfImage installed;
    installed.Block(3, 50, 9);
    const std::string target = Install("installed.cbf", installed, 7);
    const Bytes old = ReadBytes(target);
    const FileTimes before = TimesOf(target);
    CbfImage badMagic;
    badMagic.Magic(1);
    CbfImage bigger(251); // more procs than the target has room for
    bigger.Block(250, 4, 1);
    const std::string sources[] = {Install("magic.cbf", badMagic, 8), Install("bigger.cbf", bigger, 9),
                                   dir.File("missing.cbf")};
    for (const std::string& source : sources) {
        EXPECT_EQ(Merge()(source.c_str(), target.c_str()), 3) << source;
        EXPECT_EQ(ReadBytes(target), old) << "target untouched after merging " << source;
    }
    EXPECT_EQ(Prune()(sources[0].c_str(), target.c_str()), 3);
    EXPECT_EQ(ReadBytes(target), old);
    ExpectSameTimes(target, before);
}

TEST_F(CbfExports, NullSourceReadsTheDefaultFileOfTheCurrentFolder)
{
    CbfImage update;
    update.Block(4, 12, 0x44);
    const std::string target = Install("installed.cbf", CbfImage(), 10);
    Install("ZORBDLG.CBF", update, 11);
    char saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof saved, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
    const int merged = Merge()(nullptr, target.c_str());
    const int pruned = Prune()(nullptr, target.c_str());
    SetCurrentDirectoryA(saved);
    EXPECT_EQ(merged, 0);
    EXPECT_EQ(pruned, 0);
    const std::vector<ProcMapEntry> map = MapOf(ReadBytes(target), 250);
    EXPECT_EQ(map[4].present, 0u) << "merged from ZORBDLG.CBF, then pruned by it";
    EXPECT_EQ(map[4].blockOffset, 0u);
    EXPECT_EQ(Merge()(nullptr, nullptr), -1) << "a null target cannot be opened";
    EXPECT_EQ(Truncate()(nullptr), -1);
}

TEST_F(CbfExports, PruneKeepsLengthAndTimes)
{
    CbfImage installed;
    installed.Block(1, 30, 1).Block(2, 30, 2);
    installed.Entry(2).info0 = 77;
    CbfImage names;
    names.Block(2, 1, 0);
    const std::string target = Install("installed.cbf", installed, 12);
    const std::string source = Install("names.cbf", names, 13);
    const Bytes old = ReadBytes(target);
    const FileTimes before = TimesOf(target);
    ASSERT_EQ(Prune()(source.c_str(), target.c_str()), 0);
    ExpectSameTimes(target, before);
    const Bytes now = ReadBytes(target);
    EXPECT_EQ(now.size(), old.size());
    const std::vector<ProcMapEntry> map = MapOf(now, 250);
    EXPECT_EQ(map[1].present, 1u) << "a proc the source has no block for stays";
    EXPECT_EQ(map[2].present, 0u);
    EXPECT_EQ(map[2].blockOffset, 0u);
    EXPECT_EQ(map[2].blockLength, 0u);
    EXPECT_EQ(map[2].info0, 77u) << "the other words stay";
}

TEST_F(CbfExports, TruncateCutsAfterTheMapAndKeepsTimes)
{
    CbfImage installed(300);
    installed.Block(0, 5000, 1).Block(299, 7, 2);
    const std::string target = Install("installed.cbf", installed, 14);
    const FileTimes before = TimesOf(target);
    ASSERT_EQ(Truncate()(target.c_str()), 0);
    ExpectSameTimes(target, before);
    const Bytes once = ReadBytes(target);
    EXPECT_EQ(once.size(), 21u + 300 * 24) << "exactly the header and the map";
    const std::vector<ProcMapEntry> map = MapOf(once, 300);
    EXPECT_EQ(map[0].present, 0u);
    EXPECT_EQ(map[0].blockLength, 5000u) << "offsets and lengths stay";
    ASSERT_EQ(Truncate()(target.c_str()), 0);
    EXPECT_EQ(ReadBytes(target), once) << "a second truncate gives the same file";
}

TEST_F(CbfExports, RepeatedCallsLeakNoHandles)
{
    CbfImage update;
    update.Block(2, 40, 3);
    const std::string target = Install("installed.cbf", CbfImage(), 15);
    const std::string source = Install("update.cbf", update, 16);
    const std::string bad = Install("bad.cbf", CbfImage().Revision(5), 17);
    // Warm up whatever the runtime opens once, then count.
    EXPECT_EQ(Merge()(source.c_str(), target.c_str()), 0);
    const long before = CountProcessHandles();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(Merge()(source.c_str(), target.c_str()), 0);
        EXPECT_EQ(Merge()(bad.c_str(), target.c_str()), 3);
        EXPECT_EQ(Prune()(source.c_str(), target.c_str()), 0);
        EXPECT_EQ(Truncate()(target.c_str()), 0);
    }
    EXPECT_EQ(CountProcessHandles(), before) << "every call closes what it opened";
}

} // namespace
