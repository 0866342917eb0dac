// UnsplitFile when the target cannot grow. The build runs this program
// with a limit on the size of the files it writes, so writes past it fail
// as they do on a full disk (a precondition checks that they do).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/test_support.h"

using namespace setupsup_test;

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);

constexpr int kShortWrite = -5;

[[maybe_unused]] testing::Environment* const g_limit =
    testing::AddGlobalTestEnvironment(Precondition(RequireFailingWritesPastTheFileSizeLimit));

} // namespace

TEST(UnsplitFile, TargetThatCannotGrowGivesMinus5)
{
    const size_t limit = FileSizeLimit();
    auto unsplit = Export<TwoPaths>("UnsplitFile");
    ASSERT_NE(unsplit, nullptr);
    // 100 bytes stay in the stream's buffer until the join writes out its
    // last bytes, so the failure shows only there (Wine's fclose would not
    // report it); so do 5000 bytes, also less than the stream's buffer.
    for (size_t pieceSize : {size_t{100}, size_t{5000}}) {
        ScratchDir dir;
        const std::string target = dir.File("whole.bin"), piece = dir.File("piece.bin");
        const std::vector<uint8_t> full(limit, 2);
        WriteFileBytes(target, full);
        WriteFileBytes(piece, std::vector<uint8_t>(pieceSize, 3));
        EXPECT_EQ(unsplit(target.c_str(), piece.c_str()), kShortWrite)
            << "a " << pieceSize << "-byte piece onto a target that cannot grow";
        EXPECT_EQ(ReadFileBytes(target), full) << "nothing could be appended";
    }
}
