// IsZORBAppRunning on the Windows 95 family, for real: this program runs
// with the per-application Windows version "win98" (set in the prefix before
// it starts, see CMakeLists.txt), so the system reports platform id 1 to it
// and the tool-help path is taken. Wine reports base names in szExeFile, in
// the case of the file name, so a sleeper copy with an upper-case name stands
// for what the Windows 95 family reports (upper-case paths).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "setupsup.h"
#include "tests/common/test_support.h"
#include "tests/process/helper_process.h"

using process_test::HelperProcess;
using setupsup_test::CountProcessHandles;
using setupsup_test::Export;
using setupsup_test::ProgramFolder;

namespace {

using IsZORBAppRunningFn = int(WINAPI*)(const char*);
constexpr char kHelperName[] = "ZorbProcHelper.exe";
constexpr char kUpperCaseCopy[] = "ZORBUPPER.EXE";
constexpr int kLeakLoops = 100;

IsZORBAppRunningFn IsAppRunning() { return Export<IsZORBAppRunningFn>("IsZORBAppRunning"); }

[[maybe_unused]] testing::Environment* const g_windows95Family = testing::AddGlobalTestEnvironment(
    setupsup_test::Precondition([] { process_test::RequirePlatform(VER_PLATFORM_WIN32_WINDOWS); }));

} // namespace

TEST(IsZORBAppRunning9x, UpperCasedNameSearchedInsideEntries)
{
    setupsup_test::ScratchDir dir;
    std::string copy = dir.File(kUpperCaseCopy);
    ASSERT_TRUE(::CopyFileA((ProgramFolder() + kHelperName).c_str(), copy.c_str(), FALSE));
    {
        HelperProcess sleeper("sleep", copy);
        ASSERT_TRUE(sleeper.ready());
        for (const char* name :
             {"ZORBUPPER.EXE", "zorbupper.exe", "ZorbUpper.Exe", "upper.exe", "UPPER", "zorbu", ".EXE"})
            EXPECT_EQ(IsAppRunning()(name), 1) << name << " occurs in " << kUpperCaseCopy << " once upper-cased";
        for (const char* name : {"ZORBUPPER.EXE ", "ZORBUPPER.EXE.EXE", "C:\\ZORBUPPER.EXE", "ZORB_UPPER"})
            EXPECT_EQ(IsAppRunning()(name), 0) << name << " is not inside any entry";
        EXPECT_EQ(sleeper.Stop(), 0u);
    }
    EXPECT_EQ(IsAppRunning()(kUpperCaseCopy), 0) << "after the sleeper ended";
}

TEST(IsZORBAppRunning9x, LowerCaseLettersInEntryNeverMatch)
{
    HelperProcess sleeper("sleep");
    ASSERT_TRUE(sleeper.ready());
    // The entry reads "ZorbProcHelper.exe": only its capitals and punctuation
    // can be found.
    EXPECT_EQ(IsAppRunning()(kHelperName), 0) << "the upper-cased name is not in the mixed-case entry";
    EXPECT_EQ(IsAppRunning()("zorbprochelper.exe"), 0);
    EXPECT_EQ(IsAppRunning()("ZorbProcHelper.exe"), 0);
}

TEST(IsZORBAppRunning9x, EmptyNameMatchesEveryEntry)
{
    EXPECT_EQ(IsAppRunning()(""), 1) << "the snapshot holds at least this process";
}

TEST(IsZORBAppRunning9x, NullNameGivesZero) { EXPECT_EQ(IsAppRunning()(nullptr), 0); }

TEST(IsZORBAppRunning9x, LeavesNoHandleAndLoadsNoProcessStatusLibrary)
{
    setupsup_test::ScratchDir dir;
    std::string copy = dir.File(kUpperCaseCopy);
    ASSERT_TRUE(::CopyFileA((ProgramFolder() + kHelperName).c_str(), copy.c_str(), FALSE));
    HelperProcess sleeper("sleep", copy);
    ASSERT_TRUE(sleeper.ready());
    long before = CountProcessHandles();
    ASSERT_GT(before, 0);
    for (int i = 0; i < kLeakLoops; ++i) {
        ASSERT_EQ(IsAppRunning()(kUpperCaseCopy), 1) << "call " << i;
        ASSERT_EQ(IsAppRunning()("NOSUCHPROGRAM.EXE"), 0) << "call " << i;
    }
    EXPECT_EQ(CountProcessHandles(), before) << "no snapshot handle may stay open";
    EXPECT_EQ(::GetModuleHandleA("PSAPI.DLL"), nullptr) << "the tool-help path needs no PSAPI.DLL";
}
