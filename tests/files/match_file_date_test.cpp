// MatchFileDate through setupsup.dll on real files. As elsewhere, Wine
// reports the last-write time as the creation time, so times are compared
// with what the system reported before the call. Read-only targets and
// targets whose times cannot be set (-4) are tested as an unprivileged user
// (unsplit_unprivileged_test). Not produced anywhere: GetFileTime failing on
// a handle that just opened for reading (-3), which does not happen to a
// local file under Wine.
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace setupsup_test;

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);

TEST(MatchFileDate, CopiesTheThreeTimesRoleForRole)
{
    ScratchDir dir;
    auto match = Export<TwoPaths>("MatchFileDate");
    ASSERT_NE(match, nullptr);
    const std::string source = MakeFile(dir, "source.bin", Pattern(10, 1), 7);
    const std::string target = MakeFile(dir, "target.bin", Pattern(10, 2), 9);
    const FileTimes sourceTimes = TimesOf(source);
    ASSERT_EQ(match(source.c_str(), target.c_str()), 0);
    ExpectSameTimes(target, sourceTimes);
    ExpectSameTimes(source, sourceTimes);
}

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

} // namespace
