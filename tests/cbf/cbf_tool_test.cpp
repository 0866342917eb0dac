// The cbf tool, run as a program on real files.
#include "tests/cbf/cbf_test_files.h"

#include <sys/wait.h>

using namespace setupsup;
using namespace setupsup_test;

namespace {

struct Outcome {
    int status;
    std::string output;
};

class ToolTest : public CbfFilesTest {
protected:
    Outcome Cbf(const std::string& arguments)
    {
        const std::string command = std::string(CBF_TOOL_PATH) + " " + arguments + " 2>&1";
        Outcome outcome{-1, {}};
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr)
            return outcome;
        char chunk[512];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
            outcome.output.append(chunk, got);
        const int status = pclose(pipe);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return outcome;
    }
};

testing::AssertionResult Has(const std::string& output, const std::string& part)
{
    if (output.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "'" << part << "' not in:\n" << output;
}

TEST_F(ToolTest, CreateLaysOutBlocksInOrder)
{
    const std::string f = Path("made.cbf");
    const Outcome made = Cbf("create " + f +
                             " --count 260 --block 5:10:0xAB --block 2:0 --absent 2"
                             " --info 7:1,2,3");
    ASSERT_EQ(made.status, 0) << made.output;
    const Bytes file = ReadBytes(f);
    ASSERT_EQ(file.size(), 21u + 260 * 24 + 14 + 4);
    const auto map = MapOf(file, 260);
    EXPECT_TRUE(SameEntry(map[5], (ProcMapEntry{0, 0, 1, 0, 21 + 260 * 24, 10})));
    EXPECT_TRUE(SameEntry(map[2], (ProcMapEntry{0, 0, 0, 0, 21 + 260 * 24 + 14, 0})));
    EXPECT_TRUE(SameEntry(map[7], (ProcMapEntry{1, 2, 0, 3, 0, 0})));
    EXPECT_EQ(file[21 + 260 * 24], 0xAB);
    EXPECT_EQ(file.back(), 2) << "default fill is the index's low byte";
    EXPECT_EQ(Cbf("check " + f).status, 0);
    for (const char* bad : {"--count 249", "--count 250 --block 250:1", "--count 250 --block 1:-3",
                            "--count 250 --block 1:2:256", "--count 250 --info 1:2,3", "--bogus 1"}) {
        EXPECT_EQ(Cbf("create " + Path("bad.cbf") + " " + bad).status, 2) << bad;
    }
}

TEST_F(ToolTest, CheckReportsEveryFault)
{
    CbfImage image;
    image.Block(0, 100, 1).Block(1, 10, 2);
    image.Entry(2) = {0, 0, 1, 0, 6030, 10};      // inside block 0
    image.Entry(3) = {0, 0, 1, 0, 100, 10};       // inside the map
    image.Entry(4) = {0, 0, 1, 0, 6021 + 118, 1}; // past the end
    image.Entry(5) = {0, 0, 0, 0, 99999, 1};      // absent and stale: fine
    const Outcome checked = Cbf("check " + Write("f.cbf", image));
    EXPECT_EQ(checked.status, 1);
    EXPECT_TRUE(Has(checked.output, "proc 2: block 6030..6044 overlaps proc 0"));
    EXPECT_TRUE(Has(checked.output, "proc 3: block at 100 starts inside the header or proc map"));
    EXPECT_TRUE(Has(checked.output, "proc 4: block 6139..6144 ends past the end"));
    EXPECT_FALSE(Has(checked.output, "proc 5"));
    EXPECT_TRUE(Has(checked.output, "3 faults."));
}

TEST_F(ToolTest, HeaderFaultsUseTheLibraryMessages)
{
    Outcome o = Cbf("check " + Write("m.cbf", CbfImage().Magic(5)));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.output, "CBF file magic number is bad.\n");
    WriteBytes(Path("s.cbf"), Slice(CbfImage().Build(), 0, 100));
    o = Cbf("info " + Path("s.cbf"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Has(o.output, "ends inside the proc map"));
}

TEST_F(ToolTest, InfoCountsDeadSpaceOnce)
{
    CbfImage image;
    image.Block(0, 10, 1).Block(1, 20, 2).Block(2, 30, 3);
    image.Entry(0).blockOffset = 0;  // its 14 bytes are now dead
    image.Entry(3) = image.Entry(1); // shares block 1: no extra cover
    image.Entry(3).present = 0;
    const Outcome o = Cbf("info " + Write("i.cbf", image));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Has(o.output, "present    3\n"));
    EXPECT_TRUE(Has(o.output, "blocks     3 (2 of present procs)\n"));
    EXPECT_TRUE(Has(o.output, "dead space 14 bytes\n"));
}

TEST_F(ToolTest, WalkCommandsReportTheirCodes)
{
    CbfImage update;
    update.Block(1, 30, 7);
    const std::string t = Write("dst.cbf", CbfImage()), s = Write("src.cbf", update);
    EXPECT_EQ(Cbf("merge " + s + " " + t).status, 0);
    EXPECT_EQ(MapOf(ReadBytes(t), 250)[1].present, 1u);
    const Outcome bad = Cbf("merge " + Path("nope.cbf") + " " + t);
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(Has(bad.output, "failed with 3: "));
    EXPECT_TRUE(Has(Cbf("prune " + s + " " + Path("nope.cbf")).output, "failed with -1: "));
    EXPECT_EQ(Cbf("truncate " + t).status, 0);
    EXPECT_EQ(ReadBytes(t).size(), 6021u);
    EXPECT_EQ(Cbf("merge " + s).status, 2) << "usage";
}

} // namespace
