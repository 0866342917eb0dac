// MergeCbf, PruneCbf and TruncateCbf through setupsup.dll, loaded by name as
// an installer loads it, on real files. Where blocks go and what the map
// holds are the walks' own, pinned by the native tests (cbf_merge_test,
// cbf_prune_truncate_test); here is only what the Win32 build adds: the
// three times survive a call to the 100 ns, and a refusal writes nothing and
// keeps them; the target is held exclusively for the whole call (-1 while
// another handle holds it, and no other process gets in meanwhile); a file
// merged into itself; a truncate cuts the file; the system's file calls
// carry every byte value; a null source is the default file of the current
// folder; nothing leaks.
// Full disks are cbf_full_disk_test's, null installed files
// exports_arguments_test's.
//
// Wine ignores the creation time given to SetFileTime and reports the last
// write time in its place, so the checks compare all three times with what
// the system reported before the call: on Windows that checks the creation
// time too, under Wine it checks last access and last write.
#include "frame/unique_handles.h"
#include "tests/cbf/cbf_image.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

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
        return MakeFile(dir, name, image.Build(), timeSeed);
    }

    ScratchDir dir;
};

// Whether the bytes of block occur in file, wherever the walk put them.
bool Holds(const Bytes& file, const Bytes& block)
{
    return std::search(file.begin(), file.end(), block.begin(), block.end()) != file.end();
}

// Blocks written in place, appended, and one byte longer than the copy
// buffer. Each block's pattern runs through every byte value, so a stream
// in text mode (CR LF for LF, 0x1A as the end) would not carry it whole.
TEST_F(CbfExports, MergeKeepsTheTimesAndCarriesEveryByteValue)
{
    CbfImage installed;
    installed.Block(1, 400, 0x11).Block(2, 10, 0x22);
    CbfImage update;
    update.Block(1, 300, 0xA1).Block(2, 300, 0xA2).Block(3, 8189, 0xA3);
    const std::string target = Install("installed.cbf", installed, 1);
    const std::string source = Install("update.cbf", update, 2);
    const FileTimes before = TimesOf(target);

    ASSERT_EQ(Merge()(source.c_str(), target.c_str()), 0);
    ExpectSameTimes(target, before);
    const Bytes now = ReadBytes(target);
    EXPECT_TRUE(Holds(now, BlockPattern(304, 0xA1))) << "the block written in place";
    EXPECT_TRUE(Holds(now, BlockPattern(304, 0xA2))) << "the appended block";
    EXPECT_TRUE(Holds(now, BlockPattern(8193, 0xA3))) << "the block longer than the copy buffer";
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

// A refusal writes nothing, not even the same bytes, and leaves all three
// times as they were: the walk read the target before it refused (under
// Wine, with relatime, a read moves a last-access time older than a day to
// now), and gives the times back through the same open.
TEST_F(CbfExports, RefusedSourcesWriteNothingAndKeepTheTimes)
{
    CbfImage installed;
    installed.Block(3, 50, 9);
    const std::string target = Install("installed.cbf", installed, 7);
    const FileTimes before = TimesOf(target);
    CbfImage badMagic;
    badMagic.Magic(1);
    CbfImage bigger(251); // more procs than the target has room for
    bigger.Block(250, 4, 1);
    const std::string sources[] = {Install("magic.cbf", badMagic, 8), Install("bigger.cbf", bigger, 9),
                                   dir.File("missing.cbf")};
    for (const std::string& source : sources) {
        EXPECT_EQ(Merge()(source.c_str(), target.c_str()), 3) << source;
        ExpectSameTimes(target, before, "after merging " + source);
    }
    EXPECT_EQ(Prune()(sources[0].c_str(), target.c_str()), 3);
    ExpectSameTimes(target, before, "after a refused prune");
    EXPECT_EQ(ReadBytes(target), installed.Build());
}

// The installed file is held through one exclusive open for the whole call:
// another process that tries to open it meanwhile, sharing everything, is
// refused throughout, and the call ends with the times kept.
TEST_F(CbfExports, OtherProcessesAreHeldOutForTheWholeCall)
{
    constexpr uint32_t kBlock = 1024 * 1024 - 4; // 40 blocks of 1 MiB
    CbfImage installed, update;
    for (int32_t i = 0; i < 40; ++i) {
        installed.Block(i, 4, static_cast<unsigned char>(i));
        update.Block(i, kBlock, static_cast<unsigned char>(i + 1));
    }
    const std::string target = Install("installed.cbf", installed, 18);
    const std::string source = Install("update.cbf", update, 19);
    const FileTimes before = TimesOf(target);
    const TwoPaths mergeCbf = Merge(); // looked up before: the first lookup loads the DLL
    const auto merge = [&] { return mergeCbf(source.c_str(), target.c_str()); };
    EXPECT_EQ(OpenProber(target).ExpectHeldOut(merge, -1), 0) << "appended";
    EXPECT_EQ(OpenProber(target).ExpectHeldOut(merge, -1), 0) << "in place";
    ExpectSameTimes(target, before);
    EXPECT_TRUE(Holds(ReadBytes(target), BlockPattern(kBlock + 4, 40)));
}

// A file merged into itself is read through the call's own open of it, as
// it was read through a stream of its own before the open was exclusive:
// every block fits where it is, and the file is as it was.
TEST_F(CbfExports, FileMergedIntoItselfStaysAsItWas)
{
    CbfImage installed;
    installed.Block(1, 300, 1).Block(2, 20, 2);
    const std::string target = Install("installed.cbf", installed, 20);
    const FileTimes before = TimesOf(target);
    EXPECT_EQ(Merge()(target.c_str(), target.c_str()), 0);
    ExpectSameTimes(target, before); // before the test's own read moves the last-access time
    EXPECT_EQ(ReadBytes(target), installed.Build());
    EXPECT_EQ(Prune()(target.c_str(), target.c_str()), 0) << "every proc with a block is removed";
    EXPECT_EQ(ReadBytes(target).size(), installed.Size());
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
    EXPECT_TRUE(Holds(ReadBytes(target), BlockPattern(16, 0x44))) << "the block of ZORBDLG.CBF was merged";
}

TEST_F(CbfExports, PruneKeepsTheTimes)
{
    CbfImage installed;
    installed.Block(1, 30, 1).Block(2, 30, 2);
    CbfImage names;
    names.Block(2, 1, 0);
    const std::string target = Install("installed.cbf", installed, 12);
    const std::string source = Install("names.cbf", names, 13);
    const FileTimes before = TimesOf(target);
    ASSERT_EQ(Prune()(source.c_str(), target.c_str()), 0);
    ExpectSameTimes(target, before);
    EXPECT_NE(ReadBytes(target), installed.Build()) << "the prune wrote its map";
}

TEST_F(CbfExports, TruncateCutsAfterTheMapAndKeepsTheTimes)
{
    CbfImage installed(300);
    installed.Block(0, 5000, 1).Block(299, 7, 2);
    const std::string target = Install("installed.cbf", installed, 14);
    const FileTimes before = TimesOf(target);
    ASSERT_EQ(Truncate()(target.c_str()), 0);
    ExpectSameTimes(target, before);
    EXPECT_EQ(ReadBytes(target).size(), 21u + 300 * 24) << "exactly the header and the map";
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
