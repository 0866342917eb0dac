#include "tests/frame/export_calls.h"

#include "setupsup.h"

#include "tests/cbf/cbf_image.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace setupsup_test {

namespace {

// The exports' types, for char (the ANSI export) and wchar_t (its W twin).
template <typename Char>
using PathFn = int(WINAPI*)(const Char*);
template <typename Char>
using TwoPathFn = int(WINAPI*)(const Char*, const Char*);
template <typename Char>
using BufferFn = int(WINAPI*)(Char*);
using NoArgFn = int(WINAPI*)();
template <typename Char>
using LanguageFn = int(WINAPI*)(const Char*, int*, int*, Char*);
template <typename Char>
using CopyKeyFn = int(WINAPI*)(HKEY, const Char*, HKEY, const Char*);
template <typename Char>
using SetRefCountFn = int(WINAPI*)(const Char*, int);
template <typename Char>
using ShellExecuteSimpleFn = int(WINAPI*)(const Char*, const Char*, const Char*, int);
template <typename Char>
using FormatDateFn = int(WINAPI*)(int, int, int, Char*);
template <typename Char>
using CountFn = int(WINAPI*)(const Char*, DWORD);
template <typename Char>
using ScopedPathFn = CountFn<Char>; // a path and a scope
template <typename Char>
using ProcessesFn = int(WINAPI*)(const Char*, DWORD, DWORD);
template <typename Char>
using UsersFn = int(WINAPI*)(const Char*, Char*, DWORD);

constexpr int kShellStride = 200;
// A walk of every process (and, for FindFileUsers, of their modules) costs
// milliseconds: the soak runs each in every twentieth round.
constexpr int kWalkStride = 20;
constexpr char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr char kProductOptions[] = "System\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kSuites[] = "Small Business\0Terminal Server\0";
// How long one thread may wait for the others before a call: long enough
// for eight shell launches on a loaded machine under emulation.
constexpr DWORD kBarrierLimitMs = 300000;

void SetValue(HKEY root, const std::string& path, const char* name, DWORD type, const char* data, DWORD bytes)
{
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    ::RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data), bytes);
    ::RegCloseKey(key);
}

// A string value under a path outside the ANSI code page.
void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& data)
{
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

void DeleteValue(HKEY root, const char* path, const std::wstring& name)
{
    HKEY key;
    if (::RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key, name.c_str());
        ::RegCloseKey(key);
    }
}

// Creates (or empties) the file path, for a call that deletes it: true when
// it exists. Allocates nothing of the process's heap.
template <typename Char>
bool RemadeFile(const Char* path)
{
    HANDLE file = sizeof(Char) == 1 ? ::CreateFileA(reinterpret_cast<const char*>(path), GENERIC_WRITE, 0, nullptr,
                                                    CREATE_ALWAYS, 0, nullptr)
                                    : ::CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_WRITE, 0, nullptr,
                                                    CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

// A barrier that count threads pass together, as often as they like; a wait
// that outlasts kBarrierLimitMs reports false instead of hanging the test.
class Barrier {
public:
    explicit Barrier(int count) : count_(count)
    {
        ::InitializeCriticalSection(&lock_);
        for (HANDLE& event : events_)
            event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Barrier()
    {
        for (HANDLE event : events_)
            ::CloseHandle(event);
        ::DeleteCriticalSection(&lock_);
    }
    Barrier(const Barrier&) = delete;
    Barrier& operator=(const Barrier&) = delete;

    // Generation g waits on events_[g % 2]; its last arrival closes the
    // other event for generation g + 1 before it opens this one. No thread
    // of generation g can still be waiting when g + 1 ends, since every
    // thread has to arrive there first.
    bool Wait()
    {
        ::EnterCriticalSection(&lock_);
        HANDLE event = events_[generation_ % 2];
        if (++waiting_ == count_) {
            waiting_ = 0;
            ++generation_;
            ::ResetEvent(events_[generation_ % 2]);
            ::SetEvent(event);
            ::LeaveCriticalSection(&lock_);
            return true;
        }
        ::LeaveCriticalSection(&lock_);
        return ::WaitForSingleObject(event, kBarrierLimitMs) == WAIT_OBJECT_0;
    }

private:
    CRITICAL_SECTION lock_;
    HANDLE events_[2];
    int count_;
    int waiting_ = 0;
    unsigned generation_ = 0;
};

struct ThreadWork {
    const std::vector<ExportCall>* calls;
    const std::vector<int>* expected;
    Barrier* barrier;
    int firstRound, rounds;
    std::vector<int> differed, lastSeen;
    bool stalled = false;
};

// One thread's list, call by call in step with the other threads. Win32
// threads, not the C++ library's: the soak counts heap bytes around a
// threaded round, and the thread library keeps what it allocates for a
// thread after the thread ends.
DWORD WINAPI RunList(void* parameter)
{
    auto* work = static_cast<ThreadWork*>(parameter);
    const std::vector<ExportCall>& calls = *work->calls;
    for (int round = work->firstRound; round < work->firstRound + work->rounds; ++round)
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].alone || round % calls[i].stride != 0)
                continue;
            if (!work->barrier->Wait()) {
                work->stalled = true;
                return 1;
            }
            const int result = calls[i].run();
            if (result != (*work->expected)[i]) {
                ++work->differed[i];
                work->lastSeen[i] = result;
            }
        }
    return 0;
}

} // namespace

MachineState::MachineState()
{
    HKEY key;
    sharedDllsExisted_ = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (sharedDllsExisted_)
        ::RegCloseKey(key);
    // The suite names Terminal Server; the failure path finds no list.
    SetValue(HKEY_LOCAL_MACHINE, kProductOptions, "ProductSuite", REG_MULTI_SZ, kSuites, sizeof kSuites);
    EXPECT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

MachineState::~MachineState()
{
    DeleteValue(HKEY_LOCAL_MACHINE, kProductOptions, L"ProductSuite");
    if (!sharedDllsExisted_)
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSharedDlls);
}

ExportWorkspace::ExportWorkspace(int index)
    : wideDir_(CodePageToWide(CP_ACP, dir_.path()) + L"\\" + kForeignName),
      keyRoot_("Software\\SetupsupCalls" + std::to_string(index))
{
    SetValue(HKEY_CURRENT_USER, keyRoot_ + "\\Tree\\App\\Setup", "CurrentlyRegistered", REG_SZ, "1", 2);
    SetValue(HKEY_CURRENT_USER, keyRoot_ + "\\Tree\\Other\\Deeper", "Value", REG_SZ, "v", 2);
    CbfImage installed;
    installed.Block(1, 40, 1).Block(2, 40, 2).Block(3, 40, 3);
    CbfImage update;
    update.Block(2, 30, 9);
    WriteBytes(dir_.File("merge.cbf"), installed.Build());
    WriteBytes(dir_.File("prune.cbf"), installed.Build());
    WriteBytes(dir_.File("truncate.cbf"), installed.Build());
    WriteBytes(dir_.File("update.cbf"), update.Build());
    WriteBytes(dir_.File("grows.bin"), {1});
    WriteBytes(dir_.File("piece.bin"), {2, 3});
    sharedFile_ = dir_.File("shared.dll");

    // The W exports' own: the same files in a folder named outside the ANSI
    // code page, and the same tree under such a key.
    BOOL inexact = FALSE;
    ::WideCharToMultiByte(CP_ACP, 0, kForeignName, -1, nullptr, 0, nullptr, &inexact);
    EXPECT_TRUE(inexact) << "the W calls' names have no form in the ANSI code page " << ::GetACP();
    const std::wstring wideTree = CodePageToWide(CP_ACP, keyRoot_) + L"\\" + kForeignName;
    SetString(HKEY_CURRENT_USER, wideTree + L"\\App\\Setup", L"CurrentlyRegistered", L"1");
    SetString(HKEY_CURRENT_USER, wideTree + L"\\Other\\Deeper", kForeignName, kForeignName);
    EXPECT_TRUE(::CreateDirectoryW(wideDir_.c_str(), nullptr));
    const std::pair<std::string, std::wstring> copies[] = {
        {dir_.File("merge.cbf"), L"merge.cbf"},
        {dir_.File("prune.cbf"), L"prune.cbf"},
        {dir_.File("truncate.cbf"), L"truncate.cbf"},
        {dir_.File("update.cbf"), L"update.cbf"},
        {dir_.File("grows.bin"), L"grows.bin"},
        {dir_.File("piece.bin"), L"piece.bin"},
        {ProgramFile("setupsup.dll"), L"language.dll"},
        {ProgramFile("selfreg_ok.dll"), std::wstring(kForeignName) + L".dll"},
        {ProgramFile("selfreg_types.tlb"), std::wstring(kForeignName) + L".tlb"},
        {ProgramFile("setupsup-single.ttf"), std::wstring(kForeignName) + L".ttf"},
        {ProgramFile("shell_recorder.exe"), std::wstring(kForeignName) + L".exe"},
    };
    for (const auto& [from, to] : copies)
        EXPECT_TRUE(::CopyFileW(CodePageToWide(CP_ACP, from).c_str(), (wideDir_ + L"\\" + to).c_str(), FALSE))
            << Utf8(to);
    wideSharedFile_ = wideDir_ + L"\\shared.dll";
    // The fonts the lists install for the user, named apart, since all of
    // them go into the one fonts folder of the user.
    userFont_ = dir_.File("calls-font-" + std::to_string(index) + ".ttf");
    wideUserFont_ = wideDir_ + L"\\" + kForeignName + L"-" + std::to_wstring(index) + L".ttf";
    EXPECT_TRUE(CopyFileW(CodePageToWide(CP_ACP, ProgramFile("setupsup-single.ttf")).c_str(),
                          CodePageToWide(CP_ACP, userFont_).c_str(), FALSE));
    EXPECT_TRUE(
        CopyFileW(CodePageToWide(CP_ACP, ProgramFile("setupsup-single.ttf")).c_str(), wideUserFont_.c_str(), FALSE));
    pathFolder_ = "C:\\SetupsupCalls" + std::to_string(index);
    widePathFolder_ = L"C:\\" + std::wstring(kForeignName) + std::to_wstring(index);
    variable_ = "SETUPSUP_CALLS_" + std::to_string(index);
    wideVariable_ = std::wstring(kForeignName) + std::to_wstring(index);
}

ExportWorkspace::~ExportWorkspace()
{
    DeleteValue(HKEY_LOCAL_MACHINE, kSharedDlls, CodePageToWide(CP_ACP, sharedFile_));
    DeleteValue(HKEY_LOCAL_MACHINE, kSharedDlls, wideSharedFile_);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, keyRoot_.c_str());
    Export<ScopedPathFn<char>>("UninstallFont")(userFont_.c_str(), SETUPSUP_FOR_USER);
    Export<ScopedPathFn<wchar_t>>("UninstallFontW")(wideUserFont_.c_str(), SETUPSUP_FOR_USER);
    Export<PFN_RemoveFromPath>("RemoveFromPath")(pathFolder_.c_str(), SETUPSUP_FOR_USER);
    Export<PFN_RemoveFromPathW>("RemoveFromPathW")(widePathFolder_.c_str(), SETUPSUP_FOR_USER);
    Export<PFN_DeleteEnvironmentValue>("DeleteEnvironmentValue")(variable_.c_str(), SETUPSUP_FOR_USER);
    Export<PFN_DeleteEnvironmentValueW>("DeleteEnvironmentValueW")(wideVariable_.c_str(), SETUPSUP_FOR_USER);
}

std::vector<ExportCall> ExportWorkspace::Calls()
{
    auto merge = Export<TwoPathFn<char>>("MergeCbf");
    auto mergeW = Export<TwoPathFn<wchar_t>>("MergeCbfW");
    auto prune = Export<TwoPathFn<char>>("PruneCbf");
    auto pruneW = Export<TwoPathFn<wchar_t>>("PruneCbfW");
    auto truncate = Export<PathFn<char>>("TruncateCbf");
    auto truncateW = Export<PathFn<wchar_t>>("TruncateCbfW");
    auto unsplit = Export<TwoPathFn<char>>("UnsplitFile");
    auto unsplitW = Export<TwoPathFn<wchar_t>>("UnsplitFileW");
    auto matchDate = Export<TwoPathFn<char>>("MatchFileDate");
    auto matchDateW = Export<TwoPathFn<wchar_t>>("MatchFileDateW");
    auto language = Export<LanguageFn<char>>("GetFileLanguage");
    auto languageW = Export<LanguageFn<wchar_t>>("GetFileLanguageW");
    auto selfRegister = Export<PathFn<char>>("SelfRegisterFile");
    auto selfRegisterW = Export<PathFn<wchar_t>>("SelfRegisterFileW");
    auto selfUnregister = Export<PathFn<char>>("SelfUnregisterFile");
    auto selfUnregisterW = Export<PathFn<wchar_t>>("SelfUnregisterFileW");
    auto userRegister = Export<PathFn<char>>("SelfRegisterFileForUser");
    auto userRegisterW = Export<PathFn<wchar_t>>("SelfRegisterFileForUserW");
    auto userUnregister = Export<PathFn<char>>("SelfUnregisterFileForUser");
    auto userUnregisterW = Export<PathFn<wchar_t>>("SelfUnregisterFileForUserW");
    auto getCount = Export<PathFn<char>>("GetFileRefCount");
    auto getCountW = Export<PathFn<wchar_t>>("GetFileRefCountW");
    auto setCount = Export<SetRefCountFn<char>>("SetFileRefCount");
    auto setCountW = Export<SetRefCountFn<wchar_t>>("SetFileRefCountW");
    auto copyKey = Export<CopyKeyFn<char>>("CopyKey");
    auto copyKeyW = Export<CopyKeyFn<wchar_t>>("CopyKeyW");
    auto unregister = Export<PathFn<char>>("UnregisterZORBApps");
    auto unregisterW = Export<PathFn<wchar_t>>("UnregisterZORBAppsW");
    auto shellRunning = Export<NoArgFn>("IsZORBRunning");
    auto appRunning = Export<PathFn<char>>("IsZORBAppRunning");
    auto appRunningW = Export<PathFn<wchar_t>>("IsZORBAppRunningW");
    auto count = Export<CountFn<char>>("CountProcesses");
    auto countW = Export<CountFn<wchar_t>>("CountProcessesW");
    auto close = Export<ProcessesFn<char>>("CloseProcesses");
    auto closeW = Export<ProcessesFn<wchar_t>>("CloseProcessesW");
    auto terminate = Export<ProcessesFn<char>>("TerminateProcesses");
    auto terminateW = Export<ProcessesFn<wchar_t>>("TerminateProcessesW");
    auto waitFor = Export<ProcessesFn<char>>("WaitForProcesses");
    auto waitForW = Export<ProcessesFn<wchar_t>>("WaitForProcessesW");
    auto users = Export<UsersFn<char>>("FindFileUsers");
    auto usersW = Export<UsersFn<wchar_t>>("FindFileUsersW");
    auto addFont = Export<PathFn<char>>("AddFont");
    auto addFontW = Export<PathFn<wchar_t>>("AddFontW");
    auto removeFont = Export<PathFn<char>>("RemoveFont");
    auto removeFontW = Export<PathFn<wchar_t>>("RemoveFontW");
    auto gooseFont = Export<PathFn<char>>("GooseFont");
    auto gooseFontW = Export<PathFn<wchar_t>>("GooseFontW");
    auto shellExecute = Export<ShellExecuteSimpleFn<char>>("ShellExecuteSimple");
    auto shellExecuteW = Export<ShellExecuteSimpleFn<wchar_t>>("ShellExecuteSimpleW");
    auto systemFont = Export<BufferFn<char>>("GetSystemFont");
    auto systemFontW = Export<BufferFn<wchar_t>>("GetSystemFontW");
    auto fixedFont = Export<BufferFn<char>>("GetSystemFixedFont");
    auto fixedFontW = Export<BufferFn<wchar_t>>("GetSystemFixedFontW");
    auto charset = Export<NoArgFn>("GetSystemCharset");
    auto fontName = Export<UsersFn<char>>("GetFontName");
    auto fontNameW = Export<UsersFn<wchar_t>>("GetFontNameW");
    auto physRam = Export<NoArgFn>("GetPhysRAM");
    auto virtRam = Export<NoArgFn>("GetVirtRAM");
    auto formatDate = Export<FormatDateFn<char>>("FormatDate");
    auto formatDateW = Export<FormatDateFn<wchar_t>>("FormatDateW");
    auto terminalServer = Export<NoArgFn>("QueryTerminalServer");
    auto hostAddress = Export<BufferFn<char>>("GetHostIPAddr");
    auto hostAddressW = Export<BufferFn<wchar_t>>("GetHostIPAddrW");
    auto deleteInUse = Export<PathFn<char>>("DeleteInUseFile");
    auto deleteInUseW = Export<PathFn<wchar_t>>("DeleteInUseFileW");
    auto replaceInUse = Export<TwoPathFn<char>>("ReplaceInUseFile");
    auto replaceInUseW = Export<TwoPathFn<wchar_t>>("ReplaceInUseFileW");
    auto rebootPending = Export<NoArgFn>("IsRebootPending");
    auto installFont = Export<ScopedPathFn<char>>("InstallFont");
    auto installFontW = Export<ScopedPathFn<wchar_t>>("InstallFontW");
    auto uninstallFont = Export<ScopedPathFn<char>>("UninstallFont");
    auto uninstallFontW = Export<ScopedPathFn<wchar_t>>("UninstallFontW");
    const std::string userFont = userFont_;
    const std::wstring userFontW = wideUserFont_;
    auto addToPath = Export<PFN_AddToPath>("AddToPath");
    auto addToPathW = Export<PFN_AddToPathW>("AddToPathW");
    auto removeFromPath = Export<PFN_RemoveFromPath>("RemoveFromPath");
    auto removeFromPathW = Export<PFN_RemoveFromPathW>("RemoveFromPathW");
    auto setValue = Export<PFN_SetEnvironmentValue>("SetEnvironmentValue");
    auto setValueW = Export<PFN_SetEnvironmentValueW>("SetEnvironmentValueW");
    auto deleteValue = Export<PFN_DeleteEnvironmentValue>("DeleteEnvironmentValue");
    auto deleteValueW = Export<PFN_DeleteEnvironmentValueW>("DeleteEnvironmentValueW");
    const std::string folder = pathFolder_, variable = variable_;
    const std::wstring folderW = widePathFolder_, variableW = wideVariable_;

    const std::string m = dir_.File("merge.cbf"), p = dir_.File("prune.cbf"), t = dir_.File("truncate.cbf");
    const std::string u = dir_.File("update.cbf"), g = dir_.File("grows.bin"), pc = dir_.File("piece.bin");
    const std::string missing = dir_.File("missing.bin"), dll = ProgramFile("setupsup.dll");
    const std::string selfreg = ProgramFile("selfreg_ok.dll"), tlb = ProgramFile("selfreg_types.tlb");
    const std::string shared = sharedFile_, exe = ProgramBaseName(), font = ProgramFile("setupsup-single.ttf");
    const std::string recorder = ProgramFile("shell_recorder.exe"), record = "\"" + dir_.File("shell") + "\"";
    const std::string tree = keyRoot_ + "\\Tree", copy = keyRoot_ + "\\Copy", none = keyRoot_ + "\\None";
    char* buffer = buffer_;
    // The W twins' names: paths in the folder named outside the code page.
    const std::wstring wd = wideDir_ + L"\\", foreign = kForeignName;
    const std::wstring mW = wd + L"merge.cbf", pW = wd + L"prune.cbf", tW = wd + L"truncate.cbf";
    const std::wstring uW = wd + L"update.cbf", gW = wd + L"grows.bin", pcW = wd + L"piece.bin";
    const std::wstring missingW = wd + foreign + L".bin", dllW = wd + L"language.dll",
                       noExeW = L"none-" + foreign + L".exe";
    const std::wstring selfregW = wd + foreign + L".dll", tlbW = wd + foreign + L".tlb";
    const std::wstring sharedW = wideSharedFile_, exeW = CodePageToWide(CP_ACP, exe), fontW = wd + foreign + L".ttf";
    const std::wstring recorderW = wd + foreign + L".exe", recordW = L"\"" + wd + L"shell\"";
    const std::wstring keys = CodePageToWide(CP_ACP, keyRoot_) + L"\\";
    const std::wstring treeW = keys + foreign, copyW = keys + L"Copy-" + foreign, noneW = keys + L"None-" + foreign;
    wchar_t* wideBuffer = wideBuffer_;
    const DWORD room = sizeof buffer_; // as many characters in wideBuffer_
    const std::string doomed = dir_.File("doomed.bin"), replaced = dir_.File("replaced.bin");
    const std::wstring doomedW = wd + L"doomed.bin", replacedW = wd + foreign + L"-replaced.bin";
    int* low = &low_;
    int* high = &high_;

    return {
        {"MergeCbf", [=] { return merge(u.c_str(), m.c_str()); }},
        {"MergeCbfW", [=] { return mergeW(uW.c_str(), mW.c_str()); }},
        {"MergeCbf bad update", [=] { return merge(g.c_str(), m.c_str()); }},
        {"MergeCbfW bad update", [=] { return mergeW(gW.c_str(), mW.c_str()); }},
        {"MergeCbf missing", [=] { return merge(u.c_str(), missing.c_str()); }},
        {"MergeCbfW missing", [=] { return mergeW(uW.c_str(), missingW.c_str()); }},
        {"PruneCbf", [=] { return prune(u.c_str(), p.c_str()); }},
        {"PruneCbfW", [=] { return pruneW(uW.c_str(), pW.c_str()); }},
        {"PruneCbf missing", [=] { return prune(u.c_str(), missing.c_str()); }},
        {"PruneCbfW missing", [=] { return pruneW(uW.c_str(), missingW.c_str()); }},
        {"TruncateCbf", [=] { return truncate(t.c_str()); }},
        {"TruncateCbfW", [=] { return truncateW(tW.c_str()); }},
        {"TruncateCbf missing", [=] { return truncate(missing.c_str()); }},
        {"TruncateCbfW missing", [=] { return truncateW(missingW.c_str()); }},
        {"UnsplitFile", [=] { return unsplit(g.c_str(), pc.c_str()); }},
        {"UnsplitFileW", [=] { return unsplitW(gW.c_str(), pcW.c_str()); }},
        {"UnsplitFile missing", [=] { return unsplit(g.c_str(), missing.c_str()); }},
        {"UnsplitFileW missing", [=] { return unsplitW(gW.c_str(), missingW.c_str()); }},
        {"MatchFileDate", [=] { return matchDate(pc.c_str(), g.c_str()); }},
        {"MatchFileDateW", [=] { return matchDateW(pcW.c_str(), gW.c_str()); }},
        {"MatchFileDate missing", [=] { return matchDate(missing.c_str(), g.c_str()); }},
        {"MatchFileDateW missing", [=] { return matchDateW(missingW.c_str(), gW.c_str()); }},
        {"GetFileLanguage", [=] { return language(dll.c_str(), low, high, buffer); }},
        {"GetFileLanguageW", [=] { return languageW(dllW.c_str(), low, high, wideBuffer); }},
        {"GetFileLanguage missing", [=] { return language(missing.c_str(), low, high, buffer); }},
        {"GetFileLanguageW missing", [=] { return languageW(missingW.c_str(), low, high, wideBuffer); }},
        {"SelfRegisterFile module", [=] { return selfRegister(selfreg.c_str()); }},
        {"SelfRegisterFileW module", [=] { return selfRegisterW(selfregW.c_str()); }},
        {"SelfRegisterFile type library", [=] { return selfRegister(tlb.c_str()); }},
        {"SelfRegisterFileW type library", [=] { return selfRegisterW(tlbW.c_str()); }},
        {"SelfRegisterFile missing", [=] { return selfRegister(missing.c_str()); }},
        {"SelfRegisterFileW missing", [=] { return selfRegisterW(missingW.c_str()); }},
        {"SelfUnregisterFile type library", [=] { return selfUnregister(tlb.c_str()); }},
        {"SelfUnregisterFileW module", [=] { return selfUnregisterW(selfregW.c_str()); }},
        {"SelfUnregisterFile missing", [=] { return selfUnregister(missing.c_str()); }},
        {"SelfUnregisterFileW missing", [=] { return selfUnregisterW(missingW.c_str()); }},
        {"SelfRegisterFileForUser module", [=] { return userRegister(selfreg.c_str()); }},
        {"SelfRegisterFileForUserW type library", [=] { return userRegisterW(tlbW.c_str()); }},
        {"SelfRegisterFileForUser missing", [=] { return userRegister(missing.c_str()); }},
        {"SelfRegisterFileForUserW missing", [=] { return userRegisterW(missingW.c_str()); }},
        {"SelfUnregisterFileForUser module", [=] { return userUnregister(selfreg.c_str()); }},
        {"SelfUnregisterFileForUserW type library", [=] { return userUnregisterW(tlbW.c_str()); }},
        {"SelfUnregisterFileForUser missing", [=] { return userUnregister(missing.c_str()); }},
        {"SelfUnregisterFileForUserW missing", [=] { return userUnregisterW(missingW.c_str()); }},
        {"SetFileRefCount", [=] { return setCount(shared.c_str(), 3); }},
        {"SetFileRefCountW", [=] { return setCountW(sharedW.c_str(), 3); }},
        {"GetFileRefCount", [=] { return getCount(shared.c_str()); }},
        {"GetFileRefCountW", [=] { return getCountW(sharedW.c_str()); }},
        {"GetFileRefCount missing", [=] { return getCount(missing.c_str()); }},
        {"GetFileRefCountW missing", [=] { return getCountW(missingW.c_str()); }},
        {"SetFileRefCount null", [=] { return setCount(nullptr, 3); }},
        {"SetFileRefCountW null", [=] { return setCountW(nullptr, 3); }},
        {"CopyKey", [=] { return copyKey(HKEY_CURRENT_USER, tree.c_str(), HKEY_CURRENT_USER, copy.c_str()); }},
        {"CopyKeyW", [=] { return copyKeyW(HKEY_CURRENT_USER, treeW.c_str(), HKEY_CURRENT_USER, copyW.c_str()); }},
        {"CopyKey missing", [=] { return copyKey(HKEY_CURRENT_USER, none.c_str(), HKEY_CURRENT_USER, copy.c_str()); }},
        {"CopyKeyW missing",
         [=] { return copyKeyW(HKEY_CURRENT_USER, noneW.c_str(), HKEY_CURRENT_USER, copyW.c_str()); }},
        {"UnregisterZORBApps", [=] { return unregister(tree.c_str()); }},
        {"UnregisterZORBAppsW", [=] { return unregisterW(treeW.c_str()); }},
        {"UnregisterZORBApps missing", [=] { return unregister(none.c_str()); }},
        {"UnregisterZORBAppsW missing", [=] { return unregisterW(noneW.c_str()); }},
        {"IsZORBRunning held",
         [=] {
             HANDLE held = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 32, "ZorbShellSync");
             int running = shellRunning();
             ::CloseHandle(held);
             return running;
         }},
        {"IsZORBRunning", [=] { return shellRunning(); }},
        // The running program's own name: ASCII, as the build names it.
        {"IsZORBAppRunning", [=] { return appRunning(exe.c_str()); }},
        {"IsZORBAppRunningW", [=] { return appRunningW(exeW.c_str()); }},
        {"IsZORBAppRunning missing", [=] { return appRunning("setupsup-none.exe"); }},
        {"IsZORBAppRunningW missing", [=] { return appRunningW(noExeW.c_str()); }},
        // The program itself runs and is never counted; nothing else runs
        // the names the others are given, nor uses the workspace.
        {"CountProcesses", [=] { return count(exe.c_str(), SETUPSUP_SCOPE_ALL); }, kWalkStride},
        {"CountProcessesW", [=] { return countW(exeW.c_str(), SETUPSUP_SCOPE_USER); }, kWalkStride},
        {"CountProcesses bad scope", [=] { return count(exe.c_str(), 3); }},
        {"CountProcessesW bad scope", [=] { return countW(exeW.c_str(), 3); }},
        {"CloseProcesses", [=] { return close("setupsup-none.exe", SETUPSUP_SCOPE_SESSION, 0); }, kWalkStride},
        {"CloseProcessesW", [=] { return closeW(noExeW.c_str(), SETUPSUP_SCOPE_SESSION, 0); }, kWalkStride},
        {"CloseProcesses null", [=] { return close(nullptr, SETUPSUP_SCOPE_SESSION, 0); }},
        {"CloseProcessesW null", [=] { return closeW(nullptr, SETUPSUP_SCOPE_SESSION, 0); }},
        {"TerminateProcesses", [=] { return terminate("setupsup-none.exe", SETUPSUP_SCOPE_ALL, 0); }, kWalkStride},
        {"TerminateProcessesW", [=] { return terminateW(noExeW.c_str(), SETUPSUP_SCOPE_ALL, 0); }, kWalkStride},
        {"TerminateProcesses relative", [=] { return terminate("bin\\none.exe", SETUPSUP_SCOPE_ALL, 0); }},
        {"TerminateProcessesW relative", [=] { return terminateW(L"bin\\none.exe", SETUPSUP_SCOPE_ALL, 0); }},
        {"WaitForProcesses", [=] { return waitFor("setupsup-none.exe", SETUPSUP_SCOPE_SESSION, 10); }, kWalkStride},
        {"WaitForProcessesW", [=] { return waitForW(noExeW.c_str(), SETUPSUP_SCOPE_SESSION, 10); }, kWalkStride},
        {"WaitForProcesses empty", [=] { return waitFor("", SETUPSUP_SCOPE_SESSION, 10); }},
        {"WaitForProcessesW empty", [=] { return waitForW(L"", SETUPSUP_SCOPE_SESSION, 10); }},
        {"FindFileUsers", [=] { return users(m.c_str(), buffer, room); }, kWalkStride},
        {"FindFileUsersW", [=] { return usersW(mW.c_str(), wideBuffer, room); }, kWalkStride},
        {"FindFileUsers no buffer", [=] { return users(m.c_str(), nullptr, 8); }},
        {"FindFileUsersW no buffer", [=] { return usersW(mW.c_str(), nullptr, 8); }},
        {"AddFont", [=] { return addFont(font.c_str()); }},
        {"AddFontW", [=] { return addFontW(fontW.c_str()); }},
        {"RemoveFont", [=] { return removeFont(font.c_str()); }},
        {"RemoveFontW", [=] { return removeFontW(fontW.c_str()); }},
        {"AddFont missing", [=] { return addFont(missing.c_str()); }},
        {"AddFontW missing", [=] { return addFontW(missingW.c_str()); }},
        {"GooseFont", [=] { return gooseFont(recorder.c_str()) > 32; }, kShellStride},
        {"GooseFontW", [=] { return gooseFontW(recorderW.c_str()) > 32; }, kShellStride},
        {"GooseFont missing", [=] { return gooseFont(missing.c_str()); }},
        {"GooseFontW missing", [=] { return gooseFontW(missingW.c_str()); }},
        {"ShellExecuteSimple", [=] { return shellExecute(recorder.c_str(), record.c_str(), nullptr, SW_HIDE) > 32; },
         kShellStride},
        // No folder, as for the ANSI twin: Wine's shell sets the process's
        // current folder to it for the launch and then puts back the one it
        // found, which from eight threads at once can be another thread's.
        {"ShellExecuteSimpleW",
         [=] { return shellExecuteW(recorderW.c_str(), recordW.c_str(), nullptr, SW_HIDE) > 32; }, kShellStride},
        {"ShellExecuteSimple missing", [=] { return shellExecute(missing.c_str(), nullptr, nullptr, SW_HIDE); }},
        {"ShellExecuteSimpleW missing", [=] { return shellExecuteW(missingW.c_str(), nullptr, nullptr, SW_HIDE); }},
        // Face names, dates and addresses are the system's: ASCII here.
        {"GetSystemFont", [=] { return systemFont(buffer); }},
        {"GetSystemFontW", [=] { return systemFontW(wideBuffer); }},
        {"GetSystemFixedFont", [=] { return fixedFont(buffer); }},
        {"GetSystemFixedFontW", [=] { return fixedFontW(wideBuffer); }},
        {"GetSystemCharset", [=] { return charset(); }},
        {"GetFontName", [=] { return fontName(font.c_str(), buffer, room); }},
        {"GetFontNameW", [=] { return fontNameW(fontW.c_str(), wideBuffer, room); }},
        {"GetFontName missing", [=] { return fontName(missing.c_str(), buffer, room); }},
        {"GetFontNameW missing", [=] { return fontNameW(missingW.c_str(), wideBuffer, room); }},
        {"GetPhysRAM", [=] { return physRam(); }},
        {"GetVirtRAM", [=] { return virtRam(); }},
        {"FormatDate", [=] { return formatDate(2001, 12, 31, buffer); }},
        {"FormatDateW", [=] { return formatDateW(2001, 12, 31, wideBuffer); }},
        {"FormatDate invalid", [=] { return formatDate(2001, 13, 1, buffer); }},
        {"FormatDateW invalid", [=] { return formatDateW(2001, 13, 1, wideBuffer); }},
        {"QueryTerminalServer", [=] { return terminalServer(); }},
        {"QueryTerminalServer absent",
         [=] {
             HKEY key;
             ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductOptions, 0, KEY_ALL_ACCESS, &key);
             ::RegDeleteValueA(key, "ProductSuite");
             int answer = terminalServer();
             ::RegSetValueExA(key, "ProductSuite", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kSuites),
                              sizeof kSuites);
             ::RegCloseKey(key);
             return answer;
         },
         1, true},
        {"GetHostIPAddr", [=] { return hostAddress(buffer); }},
        {"GetHostIPAddrW", [=] { return hostAddressW(wideBuffer); }},
        {"GetHostIPAddr null", [=] { return hostAddress(nullptr); }},
        {"GetHostIPAddrW null", [=] { return hostAddressW(nullptr); }},
        // Files no one holds: each call deletes or replaces now and never
        // arranges anything for the restart.
        {"DeleteInUseFile", [=] { return RemadeFile(doomed.c_str()) ? deleteInUse(doomed.c_str()) : -100; }},
        {"DeleteInUseFileW", [=] { return RemadeFile(doomedW.c_str()) ? deleteInUseW(doomedW.c_str()) : -100; }},
        {"DeleteInUseFile missing", [=] { return deleteInUse(missing.c_str()); }},
        {"DeleteInUseFileW missing", [=] { return deleteInUseW(missingW.c_str()); }},
        {"ReplaceInUseFile", [=] { return replaceInUse(pc.c_str(), replaced.c_str()); }},
        {"ReplaceInUseFileW", [=] { return replaceInUseW(pcW.c_str(), replacedW.c_str()); }},
        {"ReplaceInUseFile missing", [=] { return replaceInUse(missing.c_str(), replaced.c_str()); }},
        {"ReplaceInUseFileW missing", [=] { return replaceInUseW(missingW.c_str(), replacedW.c_str()); }},
        {"IsRebootPending", [=] { return rebootPending(); }},
        // Each list's own copy of the test font, for the calling user: it is
        // put in place, installed again over itself, and taken away.
        {"InstallFont", [=] { return installFont(userFont.c_str(), SETUPSUP_FOR_USER); }},
        {"InstallFontW", [=] { return installFontW(userFontW.c_str(), SETUPSUP_FOR_USER); }},
        {"InstallFont bad scope", [=] { return installFont(userFont.c_str(), 2); }},
        {"InstallFontW bad scope", [=] { return installFontW(userFontW.c_str(), 2); }},
        {"UninstallFont", [=] { return uninstallFont(userFont.c_str(), SETUPSUP_FOR_USER); }},
        {"UninstallFontW", [=] { return uninstallFontW(userFontW.c_str(), SETUPSUP_FOR_USER); }},
        // The calling user's Path and variables, each list's own, added and
        // taken away again.
        {"AddToPath", [=] { return addToPath(folder.c_str(), SETUPSUP_FOR_USER, SETUPSUP_PATH_AT_END); }},
        {"AddToPathW", [=] { return addToPathW(folderW.c_str(), SETUPSUP_FOR_USER, SETUPSUP_PATH_AT_END); }},
        {"AddToPath bad folder", [=] { return addToPath("C:\\A;C:\\B", SETUPSUP_FOR_USER, 0); }},
        {"AddToPathW bad folder", [=] { return addToPathW(L"C:\\A;C:\\B", SETUPSUP_FOR_USER, 0); }},
        {"RemoveFromPath", [=] { return removeFromPath(folder.c_str(), SETUPSUP_FOR_USER); }},
        {"RemoveFromPathW", [=] { return removeFromPathW(folderW.c_str(), SETUPSUP_FOR_USER); }},
        {"RemoveFromPath bad scope", [=] { return removeFromPath(folder.c_str(), 2); }},
        {"RemoveFromPathW bad scope", [=] { return removeFromPathW(folderW.c_str(), 2); }},
        {"SetEnvironmentValue", [=] { return setValue(variable.c_str(), "%TEMP%", SETUPSUP_FOR_USER); }},
        {"SetEnvironmentValueW", [=] { return setValueW(variableW.c_str(), L"%TEMP%", SETUPSUP_FOR_USER); }},
        {"DeleteEnvironmentValue", [=] { return deleteValue(variable.c_str(), SETUPSUP_FOR_USER); }},
        {"DeleteEnvironmentValueW", [=] { return deleteValueW(variableW.c_str(), SETUPSUP_FOR_USER); }},
        {"DeleteEnvironmentValue missing", [=] { return deleteValue(variable.c_str(), SETUPSUP_FOR_USER); }},
        {"DeleteEnvironmentValueW missing", [=] { return deleteValueW(variableW.c_str(), SETUPSUP_FOR_USER); }},
    };
}

int AnsiTwinOf(const std::vector<ExportCall>& calls, size_t i)
{
    std::string name = calls[i].what;
    const size_t w = name.find(' ') == std::string::npos ? name.size() - 1 : name.find(' ') - 1;
    if (name[w] != 'W')
        return -1;
    name.erase(w, 1);
    for (size_t j = 0; j < calls.size(); ++j)
        if (name == calls[j].what)
            return static_cast<int>(j);
    return -1;
}

std::vector<std::string> RunListsAtOnce(const std::vector<std::vector<ExportCall>>& lists,
                                        const std::vector<std::vector<int>>& expected, int firstRound, int rounds)
{
    Barrier barrier(static_cast<int>(lists.size()));
    std::vector<std::unique_ptr<ThreadWork>> work;
    std::vector<HANDLE> threads;
    for (size_t t = 0; t < lists.size(); ++t) {
        work.push_back(std::make_unique<ThreadWork>(ThreadWork{&lists[t], &expected[t], &barrier, firstRound, rounds,
                                                               std::vector<int>(lists[t].size(), 0),
                                                               std::vector<int>(lists[t].size(), 0)}));
        HANDLE thread = ::CreateThread(nullptr, 0, RunList, work.back().get(), 0, nullptr);
        if (thread)
            threads.push_back(thread);
    }
    std::vector<std::string> faults;
    if (threads.size() != lists.size())
        faults.push_back("only " + std::to_string(threads.size()) + " threads started");
    // A thread that did not start leaves the others waiting at the barrier
    // until its limit: they report a stall rather than hang.
    for (HANDLE thread : threads) {
        if (::WaitForSingleObject(thread, 2 * kBarrierLimitMs) != WAIT_OBJECT_0)
            faults.push_back("a thread did not end");
        ::CloseHandle(thread);
    }
    for (size_t t = 0; t < work.size(); ++t) {
        if (work[t]->stalled)
            faults.push_back("thread " + std::to_string(t) + " waited in vain for the others");
        for (size_t i = 0; i < lists[t].size(); ++i)
            if (work[t]->differed[i] != 0)
                faults.push_back("thread " + std::to_string(t) + ": " + lists[t][i].what + " gave " +
                                 std::to_string(work[t]->lastSeen[i]) + " (alone: " + std::to_string(expected[t][i]) +
                                 ") " + std::to_string(work[t]->differed[i]) + " time(s)");
    }
    return faults;
}

} // namespace setupsup_test
