// IsZORBRunning and IsZORBAppRunning on the NT family (Wine's default),
// called through the DLL as an installer calls them, against real child
// processes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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

DWORD PlatformId()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return ::GetVersionExA(&version) ? version.dwPlatformId : 0;
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

TEST(IsZORBAppRunning, TestSystemIsNtFamily) { ASSERT_EQ(PlatformId(), static_cast<DWORD>(VER_PLATFORM_WIN32_NT)); }

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

TEST(IsZORBAppRunning, NullNameGivesZero) { EXPECT_EQ(IsAppRunning()(nullptr), 0); }

TEST(IsZORBAppRunning, LeavesNoHandleAndUnloadsProcessStatusLibrary)
{
    ASSERT_EQ(::GetModuleHandleA("PSAPI.DLL"), nullptr) << "nothing in the test loads PSAPI.DLL itself";
    HelperProcess sleeper("sleep");
    ASSERT_TRUE(sleeper.ready());
    long before = CountProcessHandles();
    ASSERT_GT(before, 0);
    for (int i = 0; i < kLeakLoops; ++i) {
        ASSERT_EQ(IsAppRunning()(kHelperName), 1) << "call " << i;
        ASSERT_EQ(IsAppRunning()("NoSuchProgram.exe"), 0) << "call " << i;
    }
    EXPECT_EQ(CountProcessHandles(), before) << "no process handle may stay open";
    EXPECT_EQ(::GetModuleHandleA("PSAPI.DLL"), nullptr) << "PSAPI.DLL must be released after each call";
}

// The DLL reaches PSAPI.DLL only at run time: an import would keep it from
// loading on systems without that library.
TEST(SetupSupDll, DoesNotImportProcessStatusLibrary)
{
    auto base = reinterpret_cast<const BYTE*>(setupsup_test::Dll());
    ASSERT_NE(base, nullptr);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(imports.VirtualAddress, 0u);
    int libraries = 0;
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        const char* name = reinterpret_cast<const char*>(base + d->Name);
        ++libraries;
        EXPECT_NE(::lstrcmpiA(name, "psapi.dll"), 0) << "imports " << name;
    }
    EXPECT_GT(libraries, 0) << "KERNEL32.dll at least";
}
