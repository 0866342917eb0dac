// PruneCbfWalk and TruncateCbfWalk, and every walk under injected faults.
#include "tests/cbf/cbf_test_files.h"

using namespace setupsup;
using namespace setupsup_test;

namespace {

class WalkTest : public CbfFilesTest {
protected:
    int Prune(const std::string& source, const std::string& target)
    {
        return Run([&](CbfPlatform& p) { return PruneCbfWalk(p, source.c_str(), target.c_str()); });
    }
    int Truncate(const std::string& target)
    {
        return Run([&](CbfPlatform& p) { return TruncateCbfWalk(p, target.c_str()); });
    }
    int Merge(const std::string& source, const std::string& target)
    {
        return Run([&](CbfPlatform& p) { return MergeCbfWalk(p, source.c_str(), target.c_str()); });
    }
};

// A target with blocks on 0..3 and info words everywhere it matters.
CbfImage Installed(int32_t count = 250)
{
    CbfImage image(count);
    image.Block(0, 10, 1).Block(1, 20, 2).Block(2, 30, 3).Block(3, 40, 4);
    for (int i = 0; i < 4; ++i) {
        ProcMapEntry& e = image.Entry(i);
        e.info0 = 100 + i;
        e.info1 = 200 + i;
        e.info3 = 300 + i;
    }
    return image;
}

TEST_F(WalkTest, PruneRemovesEveryProcTheSourceHasABlockFor)
{
    const CbfImage target = Installed();
    CbfImage source;
    source.Entry(0) = {0, 0, 0, 0, 5000, 0}; // offset only, not present
    source.Entry(1) = {0, 0, 1, 0, 0, 9};    // length only
    source.Entry(2) = {1, 1, 1, 1, 0, 0};    // neither: kept
    const Bytes before = target.Build();
    const std::string t = Write("dst.cbf", target);
    ASSERT_EQ(Prune(Write("src.cbf", source), t), 0);
    const Bytes after = ReadBytes(t);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(Slice(after, 6021, after.size() - 6021), Slice(before, 6021, before.size() - 6021));
    const auto map = MapOf(after, 250), old = MapOf(before, 250);
    for (int i : {0, 1}) {
        EXPECT_TRUE(SameEntry(map[i], (ProcMapEntry{100u + i, 200u + i, 0, 300u + i, 0, 0}))) << i;
    }
    for (int i : {2, 3})
        EXPECT_TRUE(SameEntry(map[i], old[i])) << i;
}

TEST_F(WalkTest, PruneWithATruncatedSourceStillRemoves)
{
    const std::string source = Write("src.cbf", Installed());
    ASSERT_EQ(Truncate(source), 0);
    const std::string t = Write("dst.cbf", Installed());
    ASSERT_EQ(Prune(source, t), 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(MapOf(ReadBytes(t), 250)[i].blockOffset, 0u) << i;
    }
}

TEST_F(WalkTest, PruneUsesTheIndicesBothMapsHave)
{
    CbfImage source(300);
    source.Block(2, 1, 1).Block(299, 1, 2);
    const std::string t = Write("dst.cbf", Installed(250));
    ASSERT_EQ(Prune(Write("src.cbf", source), t), 0);
    const auto map = MapOf(ReadBytes(t), 250);
    EXPECT_EQ(map[2].present, 0u);
    EXPECT_EQ(map[3].present, 1u);
    // And a shorter source leaves the rest alone.
    CbfImage shorter(250);
    shorter.Block(0, 1, 1);
    CbfImage wide = Installed(260);
    wide.Block(255, 5, 9);
    const std::string w = Write("wide.cbf", wide);
    ASSERT_EQ(Prune(Write("short.cbf", shorter), w), 0);
    EXPECT_TRUE(SameEntry(MapOf(ReadBytes(w), 260)[255], wide.Entry(255)));
}

TEST_F(WalkTest, TruncateCutsAfterTheMapAndRepeats)
{
    const CbfImage target = Installed(300);
    const std::string t = Write("dst.cbf", target);
    ASSERT_EQ(Truncate(t), 0);
    const Bytes once = ReadBytes(t);
    ASSERT_EQ(once.size(), 21u + 300 * 24);
    EXPECT_EQ(Slice(once, 0, 21), Slice(target.Build(), 0, 21));
    const auto map = MapOf(once, 300), old = MapOf(target.Build(), 300);
    for (int i = 0; i < 300; ++i) {
        ProcMapEntry expected = old[i];
        expected.present = 0;
        EXPECT_TRUE(SameEntry(map[i], expected)) << i;
    }
    ASSERT_EQ(Truncate(t), 0);
    EXPECT_EQ(ReadBytes(t), once);
}

// ---- Injected faults --------------------------------------------------------

TEST_F(WalkTest, AllocationFailuresReportOneAndWriteNothing)
{
    CbfImage source;
    source.Block(0, 50, 9);
    const std::string s = Write("src.cbf", source);
    const Bytes installed = Installed().Build();
    const std::string t = Path("dst.cbf");
    for (int n : {1, 2, 3}) { // target map, source map, copy buffer
        WriteBytes(t, installed);
        platform.Reset();
        platform.failAllocation = n;
        EXPECT_EQ(Merge(s, t), 1) << n;
        EXPECT_EQ(ReadBytes(t), installed) << n;
        if (n < 3) {
            platform.Reset();
            platform.failAllocation = n;
            EXPECT_EQ(Prune(s, t), 1) << n;
            EXPECT_EQ(ReadBytes(t), installed) << n;
        }
    }
    platform.Reset();
    platform.failAllocation = 1;
    EXPECT_EQ(Truncate(t), 1);
    EXPECT_EQ(ReadBytes(t), installed);
}

TEST_F(WalkTest, CaptureFailuresStopBeforeAnything)
{
    const std::string s = Write("src.cbf", Installed()), t = Write("dst.cbf", Installed());
    for (FileTimesResult failure : {FileTimesResult::kCannotOpen, FileTimesResult::kFailed}) {
        platform.Reset();
        platform.captureResult = failure;
        const int expected = failure == FileTimesResult::kCannotOpen ? -1 : 3;
        EXPECT_EQ(Merge(s, t), expected);
        EXPECT_EQ(Prune(s, t), expected);
        EXPECT_EQ(Truncate(t), expected);
        EXPECT_TRUE(platform.allocations.empty());
        EXPECT_EQ(platform.restores, 0);
    }
    EXPECT_EQ(ReadBytes(t), Installed().Build());
}

// Each time goes back in the role it was captured from; the creation time
// is checked here because Wine neither sets nor reports it.
TEST_F(WalkTest, EveryWalkRestoresEachTimeInItsOwnRole)
{
    const CbfFileTimes given{126253152001111111ULL, 126253152002222222ULL, 126253152003333333ULL};
    const std::string s = Write("src.cbf", Installed()), t = Write("dst.cbf", Installed());
    for (int walk = 0; walk < 3; ++walk) {
        platform.Reset();
        platform.givenTimes = given;
        EXPECT_EQ(walk == 0 ? Merge(s, t) : walk == 1 ? Prune(s, t) : Truncate(t), 0) << "walk " << walk;
        EXPECT_EQ(platform.restores, 1) << "walk " << walk;
        EXPECT_EQ(platform.restored.creation, given.creation) << "walk " << walk;
        EXPECT_EQ(platform.restored.lastAccess, given.lastAccess) << "walk " << walk;
        EXPECT_EQ(platform.restored.lastWrite, given.lastWrite) << "walk " << walk;
    }
}

// The times go back through the open the walk did its work through: a
// failure to set them is reported, after the work, as 3.
TEST_F(WalkTest, RestoreFailuresComeAfterTheWork)
{
    const std::string s = Write("src.cbf", Installed());
    const std::string t = Write("dst.cbf", Installed());
    platform.Reset();
    platform.failRestore = true;
    EXPECT_EQ(Prune(s, t), 3);
    EXPECT_EQ(MapOf(ReadBytes(t), 250)[0].present, 0u) << "the prune is in the file";
    EXPECT_EQ(Truncate(t), 3);
    EXPECT_EQ(ReadBytes(t).size(), 6021u);
}

TEST_F(WalkTest, FailedCutIsReported)
{
    const std::string t = Write("dst.cbf", Installed());
    platform.failCut = true;
    EXPECT_EQ(Truncate(t), 10);
    EXPECT_EQ(ReadBytes(t).size(), Installed().Size()) << "not cut";
    EXPECT_EQ(platform.restores, 0) << "times not restored";
}

} // namespace
