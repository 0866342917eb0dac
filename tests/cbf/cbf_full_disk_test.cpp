// MergeCbf through setupsup.dll when the installed file cannot grow. The
// build runs this program with a limit on the size of the files it writes,
// so that writes past it fail as they do on a full disk (a precondition
// checks that they do).
#include "tests/cbf/cbf_image.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

using namespace setupsup_test;

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);

constexpr int kShortWrite = 7;

[[maybe_unused]] testing::Environment* const g_limit =
    testing::AddGlobalTestEnvironment(Precondition(RequireFailingWritesPastTheFileSizeLimit));

// Block 1 fits its old block and would be written in place; block 2 is
// appended and cannot be: the write that would take the file past the limit
// fails part-way, and that must be reported as the write failure it is. The
// block that would have gone in place, the old bytes and the map are as
// they were. (A write that fails among many is covered by the native tests:
// this program cannot make a source larger than its own limit.)
TEST(MergeCbfOnAFullDisk, FailsAsAWriteAndLeavesTheOldBytes)
{
    const size_t limit = FileSizeLimit();
    auto merge = Export<TwoPaths>("MergeCbf");
    ASSERT_NE(merge, nullptr);
    ScratchDir dir;
    CbfImage installed;
    installed.Block(1, 100, 0x11).Block(2, 10, 0x22);
    const uint64_t filler = limit - installed.Size() - 20; // leaves the file 20 bytes short of the limit
    installed.Block(3, static_cast<uint32_t>(filler - 4), 0x33);
    CbfImage update;
    update.Block(1, 60, 0xA1).Block(2, 1000, 0xA2);
    const std::string target = MakeFile(dir, "installed.cbf", installed.Build());
    const std::string source = MakeFile(dir, "update.cbf", update.Build());
    EXPECT_EQ(merge(source.c_str(), target.c_str()), kShortWrite);
    EXPECT_EQ(Slice(ReadBytes(target), 0, installed.Size()), installed.Build());
}

} // namespace
