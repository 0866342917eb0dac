// IsZORBRunning and IsZORBAppRunning on the NT family (Wine's default),
// called through the DLL as an installer calls them, against real child
// processes.
#include <windows.h>

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <string>
#include <vector>

#include "setupsup.h"
#include "tests/common/test_support.h"
#include "tests/process/helper_process.h"

using process_test::HelperProcess;
using setupsup_test::CountProcessHandles;
using setupsup_test::Export;
using setupsup_test::ProgramBaseName;
using setupsup_test::ProgramFolder;

namespace {

using IsZORBRunningFn = int(WINAPI*)();
using IsZORBAppRunningFn = int(WINAPI*)(const char*);

constexpr char kShellSyncName[] = "ZorbShellSync";
constexpr char kHelperName[] = "ZorbProcHelper.exe";
// The helper built for the other architecture: the 64-bit one beside the
// 32-bit DLL, the 32-bit one beside the 64-bit DLL.
#ifdef _WIN64
constexpr char kOtherHelperName[] = "ZorbOtherHelper32.exe";
constexpr const char* kOtherHelperNames[] = {"ZorbOtherHelper32.exe", "ZORBOTHERHELPER32.EXE", "zorbotherhelper32.exe"};
constexpr const char* kNotOtherHelperNames[] = {"ZorbOtherHelper32", "OtherHelper32.exe", "C:\\ZorbOtherHelper32.exe",
                                                "unknown"};
#else
constexpr char kOtherHelperName[] = "ZorbOtherHelper64.exe";
constexpr const char* kOtherHelperNames[] = {"ZorbOtherHelper64.exe", "ZORBOTHERHELPER64.EXE", "zorbotherhelper64.exe"};
constexpr const char* kNotOtherHelperNames[] = {"ZorbOtherHelper64", "OtherHelper64.exe", "C:\\ZorbOtherHelper64.exe",
                                                "unknown"};
#endif
constexpr int kLeakLoops = 100;

IsZORBRunningFn IsRunning() { return Export<IsZORBRunningFn>("IsZORBRunning"); }
IsZORBAppRunningFn IsAppRunning() { return Export<IsZORBAppRunningFn>("IsZORBAppRunning"); }

bool ShellSyncObjectExists()
{
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, kShellSyncName);
    if (mapping)
        ::CloseHandle(mapping);
    return mapping != nullptr;
}

[[maybe_unused]] testing::Environment* const g_ntFamily = testing::AddGlobalTestEnvironment(
    setupsup_test::Precondition([] { process_test::RequirePlatform(VER_PLATFORM_WIN32_NT); }));

// True for a process of the other architecture than this program's, in the
// 64-bit prefix: a 64-bit one seen from a 32-bit program under WoW64, a
// 32-bit (WoW64) one seen from a 64-bit program.
bool IsOtherArchitecture(HANDLE process)
{
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(process, &wow64))
        return false;
    return sizeof(void*) == 8 ? wow64 != FALSE : wow64 == FALSE;
}

// The base names of the running processes of the other architecture, from a
// tool-help snapshot (which names every process, whatever its architecture).
std::vector<std::string> RunningOtherArchitectureProcesses()
{
    std::vector<std::string> names;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return names;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry)) {
        HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        if (IsOtherArchitecture(process))
            names.push_back(entry.szExeFile);
        ::CloseHandle(process);
    }
    ::CloseHandle(snapshot);
    return names;
}

} // namespace

TEST(IsZORBRunning, NoHolderGivesZeroAndLeavesNoObject)
{
    ASSERT_NE(IsRunning(), nullptr);
    ASSERT_FALSE(ShellSyncObjectExists()) << "no holder may run before the test";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(IsRunning()(), 0) << "no holder: call " << i;
        EXPECT_FALSE(ShellSyncObjectExists()) << "the probe must destroy the object it made";
    }
}

TEST(IsZORBRunning, MappingHeldByAnotherProcess)
{
    for (const char* mode : {"mapping:32", "mapping:4096", "mapping:1"}) {
        HelperProcess holder(mode);
        ASSERT_TRUE(holder.ready()) << mode;
        EXPECT_EQ(IsRunning()(), 1) << "held as " << mode;
        EXPECT_EQ(IsRunning()(), 1) << "a probe must not disturb the holder: " << mode;
        EXPECT_EQ(holder.Stop(), 0u) << mode;
        EXPECT_EQ(IsRunning()(), 0) << "after the holder of " << mode << " ended";
        EXPECT_FALSE(ShellSyncObjectExists()) << mode;
    }
}

TEST(IsZORBRunning, EventOrMutexOfThatNameIsNotTheShell)
{
    for (const char* mode : {"event", "mutex"}) {
        HelperProcess holder(mode);
        ASSERT_TRUE(holder.ready()) << mode;
        EXPECT_EQ(IsRunning()(), 0) << "a " << mode << " named ZorbShellSync";
        EXPECT_EQ(holder.Stop(), 0u) << mode;
    }
}

TEST(IsZORBRunning, LeavesNoHandleBehind)
{
    long before = CountProcessHandles();
    ASSERT_GT(before, 0);
    for (int i = 0; i < kLeakLoops; ++i)
        IsRunning()();
    EXPECT_EQ(CountProcessHandles(), before) << "probes without a holder";
    {
        HelperProcess holder("mapping:32");
        ASSERT_TRUE(holder.ready());
        long withHolder = CountProcessHandles();
        for (int i = 0; i < kLeakLoops; ++i)
            ASSERT_EQ(IsRunning()(), 1) << "call " << i;
        EXPECT_EQ(CountProcessHandles(), withHolder) << "probes with a holder";
    }
}

TEST(IsZORBAppRunning, WholeBaseNameIgnoringCase)
{
    HelperProcess sleeper("sleep");
    ASSERT_TRUE(sleeper.ready());
    for (const char* name : {"ZorbProcHelper.exe", "ZORBPROCHELPER.EXE", "zorbprochelper.exe", "zORBpROChELPER.eXE"})
        EXPECT_EQ(IsAppRunning()(name), 1) << name << " must match the running " << kHelperName;
    for (const char* name :
         {"ZorbProcHelper", "ProcHelper.exe", "ZorbProcHelper.ex", "ZorbProcHelper.exe ", "ZorbProcHelper.exe.exe", ""})
        EXPECT_EQ(IsAppRunning()(name), 0) << "\"" << name << "\" is not the whole base name";
    std::string withFolder = ProgramFolder() + kHelperName;
    EXPECT_EQ(IsAppRunning()(withFolder.c_str()), 0) << "a name with a folder matches no base name: " << withFolder;
    EXPECT_EQ(IsAppRunning()(ProgramBaseName().c_str()), 1) << "the test program itself runs";

    EXPECT_EQ(sleeper.Stop(), 0u);
    EXPECT_EQ(IsAppRunning()(kHelperName), 0) << "after the sleeper ended";
}

TEST(IsZORBAppRunning, OnlyAsciiLettersFoldOnSingleByteCodePage)
{
    // A copy of the sleeper named with a letter above 0x7F: on a single-byte
    // code page that byte must match exactly.
    ASSERT_EQ(::GetACP(), 1252u) << "the test prefix uses the Western code page";
    setupsup_test::ScratchDir dir;
    std::string copy = dir.File("Zorb\xE9t\xE9.exe");
    ASSERT_TRUE(::CopyFileA((ProgramFolder() + kHelperName).c_str(), copy.c_str(), FALSE));
    {
        HelperProcess sleeper("sleep", copy);
        ASSERT_TRUE(sleeper.ready());
        EXPECT_EQ(IsAppRunning()("ZORB\xE9T\xE9.EXE"), 1) << "ASCII letters fold";
        EXPECT_EQ(IsAppRunning()("zorb\xC9t\xC9.exe"), 0) << "0xE9 and 0xC9 are different bytes";
    }
}

// Both architectures run in the 64-bit prefix. The 32-bit DLL under WoW64
// cannot read a 64-bit process's module list and names it by its image path;
// the 64-bit DLL reads a 32-bit process's list as its own.
TEST(IsZORBAppRunning, FindsProcessesOfBothArchitectures)
{
    if (sizeof(void*) == 4 && !setupsup_test::RunsUnderWow64())
        GTEST_SKIP() << "a 32-bit system runs no 64-bit process; the 64-bit prefix runs this case";

    HelperProcess same("sleep");
    HelperProcess other("sleep", ProgramFolder() + kOtherHelperName);
    ASSERT_TRUE(same.ready() && other.ready());
    ASSERT_TRUE(IsOtherArchitecture(other.process())) << kOtherHelperName << " must be of the other architecture";
    for (const char* name : kOtherHelperNames)
        EXPECT_EQ(IsAppRunning()(name), 1) << name << " must match the running " << kOtherHelperName;
    for (const char* name : kNotOtherHelperNames)
        EXPECT_EQ(IsAppRunning()(name), 0) << "\"" << name << "\" is not the whole base name";
    EXPECT_EQ(IsAppRunning()(kHelperName), 1) << "the helper of this program's architecture is found as before";

    EXPECT_EQ(other.Stop(), 0u);
    EXPECT_EQ(IsAppRunning()(kOtherHelperName), 0) << "after " << kOtherHelperName << " ended";

    // Wine's own services run as 64-bit processes in the 64-bit prefix: the
    // other architecture for the 32-bit DLL.
    if (sizeof(void*) == 4) {
        std::vector<std::string> services = RunningOtherArchitectureProcesses();
        ASSERT_FALSE(services.empty()) << "the 64-bit prefix runs 64-bit processes of its own";
        for (const std::string& name : services)
            EXPECT_EQ(IsAppRunning()(name.c_str()), 1) << "the running 64-bit " << name;
    }
}

TEST(IsZORBAppRunning, NullNameGivesZero) { EXPECT_EQ(IsAppRunning()(nullptr), 0); }

TEST(IsZORBAppRunning, LeavesNoHandleBehind)
{
    HelperProcess sleeper("sleep");
    ASSERT_TRUE(sleeper.ready());
    long before = CountProcessHandles();
    ASSERT_GT(before, 0);
    for (int i = 0; i < kLeakLoops; ++i) {
        ASSERT_EQ(IsAppRunning()(kHelperName), 1) << "call " << i;
        ASSERT_EQ(IsAppRunning()("NoSuchProgram.exe"), 0) << "call " << i;
    }
    EXPECT_EQ(CountProcessHandles(), before) << "no process handle may stay open";
}
