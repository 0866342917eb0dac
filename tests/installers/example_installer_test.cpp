// The NSIS example installer (bin/zorbsample-setup.exe) and its uninstaller,
// run silently as a product's setup runs: what they leave in the file
// system, the registry and the log, and that setup refuses to run, changing
// nothing, while the application or its shell runs.
#include "tests/common/test_support.h"
#include "tests/process/helper_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace setupsup_test;

namespace {

constexpr DWORD kRunTimeout = 300000; // an installer run under emulation takes seconds
constexpr DWORD kExitRefused = 2;     // the example's status when it refuses to run
constexpr char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr char kFontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
constexpr char kFontValue[] = "Zorb Sample Sans (TrueType)";
constexpr char kTypeLibKey[] = "TypeLib\\{3B7E9D40-5C21-4F6A-8D0E-7A1B2C3D4E50}";
constexpr char kComServerMark[] = "Software\\SetupSupTest\\SelfRegister";
constexpr uint32_t kCbfCount = 300;
constexpr uint32_t kCbfMapOffset = 21;
constexpr uint32_t kCbfEntrySize = 24;
constexpr uint64_t kNsisTimeGrain = 20000000; // NSIS packs file times to 2 s

std::string Stage(const char* name) { return setupsup_test::ProgramFolder() + "example\\" + name; }

// Where the example puts its shared components ($COMMONFILES\ZORB Shared).
std::string SharedFolder()
{
    char path[MAX_PATH] = "";
    ::GetEnvironmentVariableA("CommonProgramFiles", path, MAX_PATH);
    return std::string(path) + "\\ZORB Shared";
}
std::string SharedFile(const char* name) { return SharedFolder() + "\\" + name; }
std::string FontFile()
{
    char path[MAX_PATH] = "";
    ::GetWindowsDirectoryA(path, MAX_PATH);
    return std::string(path) + "\\Fonts\\zorbsans.ttf";
}

// Checks the last-access and last-write times of path; Wine keeps no
// creation time of its own. Call it before the file is read: a read moves
// the last-access time.
void ExpectKeptTimes(const std::string& path, const FileTimes& expected, const char* what)
{
    FileTimes now = TimesOf(path);
    EXPECT_EQ(Ticks(now.lastWrite), Ticks(expected.lastWrite)) << what;
    EXPECT_EQ(Ticks(now.lastAccess), Ticks(expected.lastAccess)) << what;
}

// The string or DWORD value name of root\path as text; "<missing>" when absent.
std::string RegText(HKEY root, const std::string& path, const char* name)
{
    HKEY key;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return "<missing>";
    BYTE data[512] = {};
    DWORD type = 0, size = sizeof data - 1;
    LONG status = ::RegQueryValueExA(key, name, nullptr, &type, data, &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return "<missing>";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD*>(data));
    return reinterpret_cast<char*>(data);
}

bool KeyExists(HKEY root, const char* path)
{
    HKEY key;
    if (::RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

std::string ReadText(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The present word of each proc of a CBF file.
std::vector<bool> PresentProcs(const std::vector<uint8_t>& cbf)
{
    std::vector<bool> present;
    for (uint32_t i = 0; i < kCbfCount; ++i) {
        uint32_t word = 0;
        std::memcpy(&word, cbf.data() + kCbfMapOffset + i * kCbfEntrySize + 8, 4);
        present.push_back(word != 0);
    }
    return present;
}

// What an earlier run may have left machine-wide, removed before each test.
void RemoveMachineState()
{
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\ZorbSample");
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZorbSample");
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kComServerMark);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZorbSample");
    HKEY key;
    for (const char* name : {"zorbserv.dll", "zorbtypes.tlb"}) {
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            ::RegDeleteValueA(key, SharedFile(name).c_str());
            ::RegCloseKey(key);
        }
        ::DeleteFileA(SharedFile(name).c_str());
    }
    ::RemoveDirectoryA(SharedFolder().c_str());
    ::DeleteFileA(FontFile().c_str());
}

class ExampleInstaller : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveMachineState();
        install_ = scratch_.File("ZORB Sample");
        log_ = scratch_.File("setup.log");
        ASSERT_TRUE(::CreateDirectoryA(install_.c_str(), nullptr));
        // An earlier install's data file, whose times the new one must keep.
        WriteFileBytes(Data(), {'o', 'l', 'd'});
        ASSERT_TRUE(SetTimes(Data(), DistinctTimes(1)));
    }
    void TearDown() override { RemoveMachineState(); }

    std::string Setup() const
    {
        return "\"" + setupsup_test::ProgramFolder() + "zorbsample-setup.exe\" /S /LOG=" + log_ + " /D=" + install_;
    }
    std::string Uninstall() const { return "\"" + install_ + "\\uninstall.exe\" /S /LOG=" + log_ + " _?=" + install_; }
    std::string Data() const { return install_ + "\\zorbdata.bin"; }
    std::string Cbf() const { return install_ + "\\ZORBDLG.CBF"; }
    std::string Log() const { return ReadText(log_); }

    ScratchDir scratch_;
    std::string install_, log_;
};

// Setup stops in its first step, before any change, while a process runs
// the application or the shell's named object exists.
TEST_F(ExampleInstaller, RefusesWhileTheApplicationOrItsShellRuns)
{
    std::string fakeApp = scratch_.File("zorbapp.exe");
    ASSERT_TRUE(::CopyFileA((setupsup_test::ProgramFolder() + "ZorbProcHelper.exe").c_str(), fakeApp.c_str(), FALSE));
    {
        process_test::HelperProcess app("sleep", fakeApp);
        ASSERT_TRUE(app.ready());
        EXPECT_EQ(RunProgram(Setup(), "", nullptr, nullptr, kRunTimeout), kExitRefused);
    }
    HANDLE shell = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "ZorbShellSync");
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(RunProgram(Setup(), "", nullptr, nullptr, kRunTimeout), kExitRefused);
    ::CloseHandle(shell);

    std::string log = Log();
    EXPECT_NE(log.find("IsZORBRunning: 0; IsZORBAppRunning zorbapp.exe: 1"), std::string::npos) << log;
    EXPECT_NE(log.find("IsZORBRunning: 1; IsZORBAppRunning zorbapp.exe: 0"), std::string::npos) << log;
    EXPECT_EQ(log.find("MergeCbf"), std::string::npos) << log;
    ExpectKeptTimes(Data(), DistinctTimes(1), "the earlier data file");
    EXPECT_EQ(ReadText(Data()), "old");
    EXPECT_FALSE(FileExists(Cbf()));
    EXPECT_FALSE(FileExists(FontFile()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZorbSample"));
}

// A silent install, then a silent uninstall, checked step by step.
TEST_F(ExampleInstaller, InstallsThenUninstalls)
{
    ASSERT_EQ(RunProgram(Setup(), "", nullptr, nullptr, kRunTimeout), 0u) << Log();

    // The dialog file: update merged (1 in place, 2 appended, 10 new), proc 3
    // pruned, proc 4 of the installed file kept; its times are the shipped file's.
    std::vector<uint8_t> cbf = ReadFileBytes(Cbf());
    FileTimes cbfTimes = TimesOf(Cbf()); // after the read, which may move the last-access time
    EXPECT_LT(Ticks(TimesOf(Stage("ZORBDLG.CBF")).lastWrite) - Ticks(cbfTimes.lastWrite), kNsisTimeGrain);
    ASSERT_GT(cbf.size(), kCbfMapOffset + kCbfCount * kCbfEntrySize);
    std::vector<bool> present = PresentProcs(cbf);
    EXPECT_TRUE(present[1] && present[2] && present[4] && present[10]);
    EXPECT_FALSE(present[3]);
    EXPECT_EQ(std::count(present.begin(), present.end(), true), 4);

    // The data file joined from its pieces, with the earlier file's times.
    ExpectKeptTimes(Data(), DistinctTimes(1), "the joined data file");
    EXPECT_EQ(ReadText(Data()),
              ReadText(Stage("zorbdata.001")) + ReadText(Stage("zorbdata.002")) + ReadText(Stage("zorbdata.003")));
    EXPECT_FALSE(FileExists(install_ + "\\zorbdata.old"));

    // Shared components registered and counted once each.
    for (const char* name : {"zorbserv.dll", "zorbtypes.tlb"}) {
        EXPECT_TRUE(FileExists(SharedFile(name))) << name;
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kSharedDlls, SharedFile(name).c_str()), "1") << name;
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kComServerMark, "Registered"), "zorbserv");

    // Defaults copied to the user, registration marks reset there only.
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Software\\ZorbSample\\Settings", "Window"), "maximized");
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Software\\ZorbSample\\Apps\\Editor", "Title"), "ZORB Editor");
    for (const char* app : {"Editor", "Viewer"}) {
        std::string setup = std::string("Software\\ZorbSample\\Apps\\") + app + "\\Setup";
        EXPECT_EQ(RegText(HKEY_CURRENT_USER, setup, "CurrentlyRegistered"), "0") << app;
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, "Software\\ZorbSample\\Defaults\\Apps\\" + std::string(app) + "\\Setup",
                          "CurrentlyRegistered"),
                  "1")
            << app;
    }

    // The font.
    EXPECT_TRUE(FileExists(FontFile()));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kFontsKey, kFontValue), "zorbsans.ttf");

    std::string log = Log();
    for (const char* line : {"MergeCbf update.cbf into ZORBDLG.CBF: 0", "PruneCbf obsolete.cbf from ZORBDLG.CBF: 0",
                             "GetFileLanguage zorbapp.exe (low byte 9, high byte 4, ENGLISH): 0",
                             "MatchFileDate zorbdata.old to zorbdata.bin: 0", "UnregisterZORBApps",
                             "AddFont zorbsans.ttf: ", "GetPhysRAM: ", "FormatDate ", "QueryTerminalServer: 0",
                             "GetHostIPAddr: 0, ", "setup finished\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    ASSERT_EQ(RunProgram(Uninstall(), "", nullptr, nullptr, kRunTimeout), 0u) << Log();

    // The dialog file stays for the user, emptied and cut after its map,
    // with its times; everything else of the product is gone.
    ExpectKeptTimes(Cbf(), cbfTimes, "the truncated dialog file");
    cbf = ReadFileBytes(Cbf());
    EXPECT_EQ(cbf.size(), kCbfMapOffset + kCbfCount * kCbfEntrySize);
    present = PresentProcs(cbf);
    EXPECT_EQ(std::count(present.begin(), present.end(), true), 0);
    EXPECT_FALSE(FileExists(install_ + "\\zorbapp.exe"));
    EXPECT_FALSE(FileExists(Data()));
    for (const char* name : {"zorbserv.dll", "zorbtypes.tlb"}) {
        EXPECT_FALSE(FileExists(SharedFile(name))) << name;
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kSharedDlls, SharedFile(name).c_str()), "<missing>") << name;
    }
    EXPECT_FALSE(FileExists(FontFile()));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kFontsKey, kFontValue), "<missing>");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\ZorbSample"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZorbSample"));
    log = Log();
    for (const char* line :
         {"RemoveFont zorbsans.ttf: ", "count of ", "TruncateCbf ZORBDLG.CBF: 0", "uninstall finished\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

} // namespace
