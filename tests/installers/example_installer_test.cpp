// The NSIS example installers and their uninstallers, run silently as a
// product's setup runs: the ANSI build into a folder of ASCII letters, the
// Unicode build (x86, or amd64 in the 64-bit build) into a folder named
// outside the ANSI code page (1252), which only the W exports reach. What they leave in the file system, the registry
// and the log; that setup closes the installed application's running copy
// before it replaces it, and refuses to run, changing nothing, while another
// copy of the application or its shell runs.
#include "tests/common/test_support.h"
#include "tests/process/helper_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

using namespace setupsup_test;
namespace fs = std::filesystem;

namespace {

constexpr DWORD kRunTimeout = 300000; // an installer run under emulation takes seconds
constexpr DWORD kExitRefused = 2;     // the example's status when it refuses to run
constexpr char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr char kFontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
constexpr char kFontValue[] = "Zorb Sample Sans (TrueType)";
constexpr char kTypeLibKey[] = "TypeLib\\{3B7E9D40-5C21-4F6A-8D0E-7A1B2C3D4E50}";
constexpr char kServerKey[] = "CLSID\\{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E21}";
constexpr char kProgIdKey[] = "SetupSupTest.zorbserv";
constexpr char kUserClasses[] = "Software\\Classes\\";
constexpr char kComServerMark[] = "Software\\SetupSupTest\\SelfRegister";
constexpr uint32_t kCbfCount = 300;
constexpr uint32_t kCbfMapOffset = 21;
constexpr uint32_t kCbfEntrySize = 24;
constexpr uint64_t kNsisTimeGrain = 20000000; // NSIS packs file times to 2 s

// One example installer as the build makes it from nsis/example.nsi, and the
// folder it installs into (in a scratch folder; /D= takes the rest of the
// command line, spaces included).
struct Variant {
    const char* name;
    const wchar_t* installer;
    const wchar_t* folder;
    bool unicode;
};
const Variant kVariants[] = {
#ifndef _WIN64 // NSIS makes 64-bit installers for Unicode only
    {"Ansi", L"zorbsample-setup-ansi.exe", L"ZORB Sample", false},
#endif
    // Polish, Cyrillic, CJK and U+1F3B5 (a surrogate pair): none is in 1252.
    {"Unicode", L"zorbsample-setup.exe", L"G\u0119\u015B-\u0416\u0443\u043A-\u6771\u4EAC-\U0001F3B5", true},
};

void PrintTo(const Variant& variant, std::ostream* out) { *out << variant.name; }

fs::path ProgramFolderW() { return CodePageToWide(CP_ACP, setupsup_test::ProgramFolder()); }
fs::path Stage(const char* name) { return ProgramFolderW() / L"example" / name; }

// The install folder may be named outside the ANSI code page: its files are
// read, written and timed through UTF-16 paths (the shared helpers take ANSI).
std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

FileTimes TimesOf(const fs::path& path)
{
    FileTimes times;
    HANDLE file = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << "cannot open " << path;
    ::GetFileTime(file, &times.creation, &times.lastAccess, &times.lastWrite);
    ::CloseHandle(file);
    return times;
}

// Checks the last-access and last-write times of path; Wine keeps no
// creation time of its own. Call it before the file is read: a read moves
// the last-access time.
void ExpectKeptTimes(const fs::path& path, const FileTimes& expected, const char* what)
{
    FileTimes now = TimesOf(path);
    EXPECT_EQ(Ticks(now.lastWrite), Ticks(expected.lastWrite)) << what;
    EXPECT_EQ(Ticks(now.lastAccess), Ticks(expected.lastAccess)) << what;
}

// The installers' plug-in folders (ns*.tmp) in the temporary folder. An
// installer removes its own as it ends, which Wine, like Windows, refuses
// while setupsup.dll is still loaded from it.
size_t PluginFolders()
{
    size_t count = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::temp_directory_path()))
        count += entry.path().filename().wstring().rfind(L"ns", 0) == 0 && entry.path().extension() == L".tmp";
    return count;
}

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

// The string or DWORD value name of root\path as UTF-8 text; "<missing>" when absent.
// view: KEY_WOW64_64KEY for the fonts key, which InstallFont writes in the
// 64-bit view (on Windows one key for both; ignored without WoW64).
std::string RegText(HKEY root, const std::string& path, const char* name, REGSAM view = 0)
{
    HKEY key;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return "<missing>";
    wchar_t data[512] = {};
    DWORD type = 0, size = sizeof data - sizeof(wchar_t);
    LONG status = ::RegQueryValueExW(key, CodePageToWide(CP_ACP, name).c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return "<missing>";
    if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof number);
        return std::to_string(number);
    }
    return Utf8(data);
}

bool KeyExists(HKEY root, const char* path)
{
    HKEY key;
    if (::RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

// The present word of each proc of a CBF file.
std::vector<bool> PresentProcs(const std::string& cbf)
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
    // The registrations of the sample's components, for the machine and for
    // the user (an uninstaller that did not take them back left them).
    for (const char* key : {kTypeLibKey, kServerKey, kProgIdKey}) {
        ::RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kUserClasses) + key).c_str());
    }
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

// The user's Path (HKCU\\Environment), raw: its type and bytes, or type
// REG_NONE when there is none.
struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    bool operator==(const RawValue&) const = default;
};

RawValue UserPath()
{
    RawValue value;
    HKEY key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return value;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, L"Path", nullptr, &value.type, nullptr, &bytes) == ERROR_SUCCESS) {
        value.bytes.resize(bytes);
        ::RegQueryValueExW(key, L"Path", nullptr, &value.type, value.bytes.data(), &bytes);
    } else {
        value.type = REG_NONE;
    }
    ::RegCloseKey(key);
    return value;
}

void SetUserPath(const RawValue& value)
{
    HKEY key;
    ASSERT_EQ(
        ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    if (value.type == REG_NONE)
        ::RegDeleteValueW(key, L"Path");
    else
        ::RegSetValueExW(key, L"Path", 0, value.type, value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
    ::RegCloseKey(key);
}

// A user's Path an installer must not disturb: an expanding entry, an empty
// one, odd spacing, a quoted folder and a trailing backslash.
RawValue AwkwardPath()
{
    const std::wstring text = L"%USERPROFILE%\\bin;;  C:\\Odd Spacing ;\"C:\\Quoted;Folder\";C:\\Tools\\";
    RawValue value{REG_EXPAND_SZ, {}};
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.bytes.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

class ExampleInstaller : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override
    {
        // The Unicode installer's folder must be out of the ANSI exports'
        // reach, the ANSI one's within it.
        if (GetParam().unicode) {
            ASSERT_EQ(::GetACP(), 1252u);
        }
        BOOL lost = FALSE;
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, GetParam().folder, -1, nullptr, 0, nullptr, &lost);
        ASSERT_EQ(lost != FALSE, GetParam().unicode);
        RemoveMachineState();
        install_ = fs::path(CodePageToWide(CP_ACP, scratch_.path())) / GetParam().folder;
        log_ = CodePageToWide(CP_ACP, scratch_.File("setup.log"));
        ASSERT_TRUE(fs::create_directory(install_));
        // An earlier install's data file, whose times the new one must keep.
        std::ofstream(Data(), std::ios::binary) << "old";
        HANDLE data = ::CreateFileW(Data().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const FileTimes old = DistinctTimes(1);
        ASSERT_TRUE(::SetFileTime(data, &old.creation, &old.lastAccess, &old.lastWrite));
        ::CloseHandle(data);
    }
    void TearDown() override
    {
        RemoveMachineState();
        std::error_code ignored;
        fs::remove_all(install_, ignored); // before the scratch folder, whose removal takes ANSI names
    }

    std::wstring Setup() const
    {
        return L"\"" + (ProgramFolderW() / GetParam().installer).wstring() + L"\" /S /LOG=" + log_.wstring() + L" /D=" +
               install_.wstring();
    }
    std::wstring Uninstall() const
    {
        return L"\"" + (install_ / L"uninstall.exe").wstring() + L"\" /S /LOG=" + log_.wstring() + L" _?=" +
               install_.wstring();
    }
    fs::path Data() const { return install_ / L"zorbdata.bin"; }
    fs::path Cbf() const { return install_ / L"ZORBDLG.CBF"; }
    // The log: UTF-8 from the Unicode installer, ASCII from the ANSI one here.
    std::string Log() const { return ReadText(log_); }

    ScratchDir scratch_;
    fs::path install_, log_;
};

INSTANTIATE_TEST_SUITE_P(, ExampleInstaller, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) { return info.param.name; });

// Setup stops in its first step, before any change, while a process runs
// the application or the shell's named object exists.
TEST_P(ExampleInstaller, RefusesWhileTheApplicationOrItsShellRuns)
{
    std::string fakeApp = scratch_.File("zorbapp.exe");
    ASSERT_TRUE(::CopyFileA((setupsup_test::ProgramFolder() + "ZorbProcHelper.exe").c_str(), fakeApp.c_str(), FALSE));
    {
        process_test::HelperProcess app("sleep", fakeApp);
        ASSERT_TRUE(app.ready());
        EXPECT_EQ(RunProgram(Setup(), L"", nullptr, nullptr, kRunTimeout), kExitRefused);
    }
    HANDLE shell = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "ZorbShellSync");
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(RunProgram(Setup(), L"", nullptr, nullptr, kRunTimeout), kExitRefused);
    ::CloseHandle(shell);

    std::string log = Log();
    EXPECT_NE(log.find("IsZORBRunning: 0; IsZORBAppRunning zorbapp.exe: 1"), std::string::npos) << log;
    EXPECT_NE(log.find("IsZORBRunning: 1; IsZORBAppRunning zorbapp.exe: 0"), std::string::npos) << log;
    EXPECT_EQ(log.find("MergeCbf"), std::string::npos) << log;
    ExpectKeptTimes(Data(), DistinctTimes(1), "the earlier data file");
    EXPECT_EQ(ReadText(Data()), "old");
    EXPECT_FALSE(fs::exists(Cbf()));
    EXPECT_FALSE(FileExists(FontFile()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZorbSample"));
}

// The installed application runs with its window open: setup posts WM_CLOSE
// to it, it ends by itself, and its file is replaced.
TEST_P(ExampleInstaller, ClosesTheRunningApplicationThenReplacesIt)
{
    ASSERT_EQ(RunProgram(Setup(), L"", nullptr, nullptr, kRunTimeout), 0u) << Log();
    const fs::path app = install_ / L"zorbapp.exe";
    const FileTimes old = DistinctTimes(2);
    HANDLE file = ::CreateFileW(app.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(::SetFileTime(file, &old.creation, &old.lastAccess, &old.lastWrite));
    ::CloseHandle(file);

    std::wstring line = L"\"" + app.wstring() + L"\" /wait";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION running{};
    ASSERT_TRUE(
        ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &running));
    bool shown = false;
    for (int i = 0; i < 600 && !shown; ++i) {
        shown = ::FindWindowA("ZorbSampleWindow", nullptr) != nullptr;
        if (!shown)
            ::Sleep(100);
    }
    EXPECT_TRUE(shown) << "zorbapp.exe /wait shows its window";

    EXPECT_EQ(RunProgram(Setup(), L"", nullptr, nullptr, kRunTimeout), 0u) << Log();
    EXPECT_EQ(::WaitForSingleObject(running.hProcess, 0), WAIT_OBJECT_0) << "ended before setup did";
    DWORD code = 99;
    ::GetExitCodeProcess(running.hProcess, &code);
    EXPECT_EQ(code, 0u) << "ended by its own window's close, not terminated";
    ::TerminateProcess(running.hProcess, 99); // in case it did not end
    ::CloseHandle(running.hThread);
    ::CloseHandle(running.hProcess);
    EXPECT_LT(Ticks(TimesOf(Stage("zorbapp.exe")).lastWrite) - Ticks(TimesOf(app).lastWrite), kNsisTimeGrain)
        << "replaced: the packed file's time, not the one set before";
    const std::string log = Log();
    EXPECT_NE(log.find("CloseProcesses " + Utf8(app) + ": 0 still running"), std::string::npos) << log;
    EXPECT_NE(log.find("IsZORBRunning: 0; IsZORBAppRunning zorbapp.exe: 0"), std::string::npos) << log;
    // Both installs counted the shared components: two uninstalls remove them.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(RunProgram(Uninstall(), L"", nullptr, nullptr, kRunTimeout), 0u) << Log();
}

// A silent install, then a silent uninstall, checked step by step.
TEST_P(ExampleInstaller, InstallsThenUninstalls)
{
    const size_t pluginFolders = PluginFolders();
    const RawValue userPath = UserPath(), awkward = AwkwardPath();
    SetUserPath(awkward);
    ASSERT_EQ(RunProgram(Setup(), L"", nullptr, nullptr, kRunTimeout), 0u) << Log();
    // The install folder at the end of the user's Path, the rest as it was.
    RawValue added = UserPath();
    EXPECT_EQ(added.type, static_cast<DWORD>(REG_EXPAND_SZ));
    const std::wstring addedText(reinterpret_cast<const wchar_t*>(added.bytes.data()),
                                 added.bytes.size() / sizeof(wchar_t));
    const std::wstring awkwardText(reinterpret_cast<const wchar_t*>(awkward.bytes.data()),
                                   awkward.bytes.size() / sizeof(wchar_t) - 1);
    EXPECT_EQ(addedText.rfind(awkwardText, 0), 0u) << "every earlier entry kept, in its order";
    EXPECT_NE(addedText.find(install_.wstring()), std::wstring::npos) << Utf8(addedText);
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Environment", "ZORB_HOME"), Utf8(install_)) << "the user's variable";
    EXPECT_EQ(PluginFolders(), pluginFolders) << "setup left setupsup.dll loaded";

    // The dialog file: update merged (1 in place, 2 appended, 10 new), proc 3
    // pruned, proc 4 of the installed file kept; its times are the shipped file's.
    std::string cbf = ReadText(Cbf());
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
    EXPECT_FALSE(fs::exists(install_ / L"zorbdata.old"));

    // Shared components registered and counted once each.
    for (const char* name : {"zorbserv.dll", "zorbtypes.tlb"}) {
        EXPECT_TRUE(FileExists(SharedFile(name))) << name;
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kSharedDlls, SharedFile(name).c_str()), "1") << name;
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kServerKey));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kProgIdKey));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kComServerMark, "Registered"), "zorbserv");

    // Defaults copied to the user, the folder's every character kept, and
    // registration marks reset there only.
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Software\\ZorbSample\\Settings", "Window"), "maximized");
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Software\\ZorbSample\\Settings", "Folder"), Utf8(install_));
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
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kFontsKey, kFontValue, KEY_WOW64_64KEY), "zorbsans.ttf");

    // The log names the folder whole.
    std::string log = Log();
    EXPECT_NE(log.find("== ZORB Sample setup into " + Utf8(install_) + "\r\n"), std::string::npos) << log;
    for (const char* line : {"MergeCbf update.cbf into ZORBDLG.CBF: 0", "PruneCbf obsolete.cbf from ZORBDLG.CBF: 0",
                             "GetFileLanguage zorbapp.exe (low byte 9, high byte 4, ENGLISH): 0",
                             "MatchFileDate zorbdata.old to zorbdata.bin: 0", "UnregisterZORBApps",
                             "GetFontName zorbsans.ttf (Zorb Sample Sans (TrueType)): 0",
                             "InstallFont zorbsans.ttf 1: 0", "GetPhysRAM: ", "FormatDate ", "QueryTerminalServer: 0",
                             "GetHostIPAddr: 0, ", "AddToPath ", "setup finished\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    ASSERT_EQ(RunProgram(Uninstall(), L"", nullptr, nullptr, kRunTimeout), 0u) << Log();
    EXPECT_EQ(PluginFolders(), pluginFolders) << "the uninstaller left setupsup.dll loaded";
    EXPECT_TRUE(UserPath() == awkward) << "the user's Path byte for byte as before setup";
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Environment", "ZORB_HOME"), "<missing>");
    SetUserPath(userPath);

    // The dialog file stays for the user, emptied and cut after its map,
    // with its times; everything else of the product is gone.
    ExpectKeptTimes(Cbf(), cbfTimes, "the truncated dialog file");
    cbf = ReadText(Cbf());
    EXPECT_EQ(cbf.size(), kCbfMapOffset + kCbfCount * kCbfEntrySize);
    present = PresentProcs(cbf);
    EXPECT_EQ(std::count(present.begin(), present.end(), true), 0);
    EXPECT_FALSE(fs::exists(install_ / L"zorbapp.exe"));
    EXPECT_FALSE(fs::exists(Data()));
    for (const char* name : {"zorbserv.dll", "zorbtypes.tlb"}) {
        EXPECT_FALSE(FileExists(SharedFile(name))) << name;
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kSharedDlls, SharedFile(name).c_str()), "<missing>") << name;
    }
    EXPECT_FALSE(FileExists(FontFile()));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kFontsKey, kFontValue, KEY_WOW64_64KEY), "<missing>");
    for (const char* key : {kTypeLibKey, kServerKey, kProgIdKey})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key << ": unregistered when its count reached 0";
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kComServerMark, "Unregistered"), "zorbserv");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\ZorbSample"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZorbSample"));
    log = Log();
    const std::vector<std::string> lines = {"UninstallFont zorbsans.ttf 1: 0",
                                            "reached 0: count removed, DeleteInUseFile: 0",
                                            "SelfUnregisterFile " + SharedFile("zorbserv.dll") + ": 0",
                                            "SelfUnregisterFile " + SharedFile("zorbtypes.tlb") + ": 0",
                                            "RemoveFromPath " + Utf8(install_) + ": 0",
                                            "TruncateCbf ZORBDLG.CBF: 0",
                                            "IsRebootPending: ",
                                            "uninstall finished\r\n"};
    for (const std::string& line : lines)
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

// ---- The per-user installer ----------------------------------------------------

// Everything under HKEY_LOCAL_MACHINE, both views (Wow6432Node is a key of
// the 64-bit one), as "key\\value=type:bytes" lines: Wine keeps it in the
// prefix's system.reg. Left out, as the system's own: HARDWARE (rewritten
// at each start, kept in no file) and the service manager's count of
// started services (ServiceCurrent), which moves whenever a program starts
// one of Wine's services.
bool IsSystemsOwn(const std::wstring& path)
{
    return _wcsicmp(path.c_str(), L"\\HARDWARE") == 0 ||
           _wcsicmp(path.c_str(), L"\\System\\CurrentControlSet\\Control\\ServiceCurrent") == 0;
}

void DumpKey(HKEY key, const std::wstring& path, std::set<std::wstring>* lines)
{
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), bytes = static_cast<DWORD>(data.size()), type = 0;
        if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS)
            break;
        std::wstring line = path + L"\\" + std::wstring(name.data(), nameLength) + L"=" + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < bytes; ++b)
            line +=
                static_cast<wchar_t>(L'a' + data[b] % 26) + std::wstring(1, static_cast<wchar_t>(L'a' + data[b] / 26));
        lines->insert(line);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring child(name.data(), nameLength);
        if (IsSystemsOwn(path + L"\\" + child))
            continue;
        HKEY sub = nullptr;
        if (::RegOpenKeyExW(key, child.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &sub) != ERROR_SUCCESS)
            continue;
        lines->insert(path + L"\\" + child);
        DumpKey(sub, path + L"\\" + child, lines);
        ::RegCloseKey(sub);
    }
}

std::set<std::wstring> MachineRegistry()
{
    std::set<std::wstring> lines;
    HKEY root = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ | KEY_WOW64_64KEY, &root), ERROR_SUCCESS);
    DumpKey(root, L"", &lines);
    return lines;
}

// Every file and folder under the Windows folder, with its size and last
// write time.
std::set<std::wstring> WindowsFolder()
{
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    std::set<std::wstring> lines;
    std::error_code error;
    for (fs::recursive_directory_iterator it(windows, fs::directory_options::skip_permission_denied, error), end;
         it != end; it.increment(error)) {
        std::error_code ignored;
        const auto size = it->is_regular_file(ignored) ? it->file_size(ignored) : 0;
        const auto written = fs::last_write_time(it->path(), ignored).time_since_epoch().count();
        lines.insert(it->path().wstring() + L" " + std::to_wstring(size) + L" " + std::to_wstring(written));
    }
    return lines;
}

// The lines of after that are not in before, and those gone, as text.
std::string Changes(const std::set<std::wstring>& before, const std::set<std::wstring>& after)
{
    std::string changes;
    for (const std::wstring& line : after)
        if (!before.count(line))
            changes += "+ " + Utf8(line.substr(0, 200)) + "\n";
    for (const std::wstring& line : before)
        if (!after.count(line))
            changes += "- " + Utf8(line.substr(0, 200)) + "\n";
    return changes;
}

// The per-user build (RequestExecutionLevel user): the application in
// $LOCALAPPDATA\Programs, its components beside it registered for the user,
// its font in the user's fonts folder; after the uninstall nothing of it is
// left, and neither run wrote anything under HKLM or the Windows folder.
// Wine runs it with the rights it runs everything with: what shows that
// the installer needs no administrator is that it writes nowhere one would
// be needed, which the two snapshots check.
TEST(PerUserInstaller, InstallsAndUninstallsWithoutTouchingTheMachine)
{
    RemoveMachineState();
    wchar_t local[MAX_PATH] = {};
    ASSERT_TRUE(::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH));
    const fs::path install = fs::path(local) / L"Programs" / L"ZORB Sample";
    const fs::path font = fs::path(local) / L"Microsoft" / L"Windows" / L"Fonts" / L"zorbsans.ttf";
    ScratchDir scratch;
    const std::wstring log = CodePageToWide(CP_ACP, scratch.File("user-setup.log"));
    const std::wstring setup =
        L"\"" + (ProgramFolderW() / L"zorbsample-user-setup.exe").wstring() + L"\" /S /LOG=" + log;
    const std::wstring uninstall =
        L"\"" + (install / L"uninstall.exe").wstring() + L"\" /S /LOG=" + log + L" _?=" + install.wstring();
    const auto Log = [&] { return ReadText(log); };
    // A window first: Wine starts its desktop with the first window of the
    // prefix, and the desktop's display driver writes the machine's video
    // and device keys as it starts (not the installer's doing).
    ::DestroyWindow(
        ::CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    const std::set<std::wstring> registryBefore = MachineRegistry(), windowsBefore = WindowsFolder();

    ASSERT_EQ(RunProgram(setup, L"", nullptr, nullptr, kRunTimeout), 0u) << Log();
    EXPECT_EQ(Changes(registryBefore, MachineRegistry()), "") << "setup wrote nothing under HKLM";
    EXPECT_EQ(Changes(windowsBefore, WindowsFolder()), "") << "setup wrote nothing in the Windows folder";
    EXPECT_TRUE(fs::exists(install / L"zorbapp.exe"));
    for (const char* key : {kTypeLibKey, kServerKey, kProgIdKey}) {
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, (std::string(kUserClasses) + key).c_str())) << key;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, (std::string(kUserClasses) + key).c_str())) << key;
    }
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, std::string(kUserClasses) + kServerKey + "\\InprocServer32", ""),
              Utf8(install / L"zorbserv.dll"));
    EXPECT_TRUE(fs::exists(font));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kFontsKey, kFontValue, KEY_WOW64_64KEY), Utf8(font))
        << "the user's value holds the full path";
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Software\\ZorbSample\\Settings", "Folder"), Utf8(install));
    EXPECT_NE(RegText(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZorbSample",
                      "UninstallString"),
              "<missing>");
    std::string text = Log();
    const std::vector<std::string> lines = {"SelfRegisterFileForUser " + Utf8(install / L"zorbserv.dll") + ": 0",
                                            "SelfRegisterFileForUser " + Utf8(install / L"zorbtypes.tlb") + ": 0",
                                            "InstallFont zorbsans.ttf 0: 0", "setup finished\r\n"};
    for (const std::string& line : lines)
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;

    ASSERT_EQ(RunProgram(uninstall, L"", nullptr, nullptr, kRunTimeout), 0u) << Log();
    for (const char* key : {kTypeLibKey, kServerKey, kProgIdKey})
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, (std::string(kUserClasses) + key).c_str())) << key;
    EXPECT_FALSE(fs::exists(font));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kFontsKey, kFontValue, KEY_WOW64_64KEY), "<missing>");
    EXPECT_FALSE(fs::exists(install / L"zorbserv.dll"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\ZorbSample Product"));
    text = Log();
    EXPECT_NE(text.find("uninstall finished\r\n"), std::string::npos) << text;

    EXPECT_EQ(Changes(registryBefore, MachineRegistry()), "") << "HKLM is the same as before";
    EXPECT_EQ(Changes(windowsBefore, WindowsFolder()), "") << "the Windows folder is the same as before";
    std::error_code ignored;
    fs::remove_all(install, ignored);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZorbSample Product");
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZorbSample");
}

} // namespace
