#include "tests/frame/export_calls.h"

#include "tests/cbf/cbf_image.h"

#include <gtest/gtest.h>

#include <memory>

namespace setupsup_test {

namespace {

using PathFn = int(WINAPI*)(const char*);
using TwoPathFn = int(WINAPI*)(const char*, const char*);
using BufferFn = int(WINAPI*)(char*);
using NoArgFn = int(WINAPI*)();
using LanguageFn = int(WINAPI*)(const char*, int*, int*, char*);
using CopyKeyFn = int(WINAPI*)(HKEY, const char*, HKEY, const char*);
using SetRefCountFn = int(WINAPI*)(const char*, int);
using ShellExecuteSimpleFn = int(WINAPI*)(const char*, const char*, const char*, int);
using FormatDateFn = int(WINAPI*)(int, int, int, char*);

constexpr int kShellStride = 200;
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

void DeleteValue(HKEY root, const char* path, const char* name)
{
    HKEY key;
    if (::RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueA(key, name);
        ::RegCloseKey(key);
    }
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
    DeleteValue(HKEY_LOCAL_MACHINE, kProductOptions, "ProductSuite");
    if (!sharedDllsExisted_)
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSharedDlls);
}

ExportWorkspace::ExportWorkspace(int index) : keyRoot_("Software\\SetupsupCalls" + std::to_string(index))
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
}

ExportWorkspace::~ExportWorkspace()
{
    DeleteValue(HKEY_LOCAL_MACHINE, kSharedDlls, sharedFile_.c_str());
    ::RegDeleteTreeA(HKEY_CURRENT_USER, keyRoot_.c_str());
}

std::vector<ExportCall> ExportWorkspace::Calls()
{
    auto merge = Export<TwoPathFn>("MergeCbf");
    auto prune = Export<TwoPathFn>("PruneCbf");
    auto truncate = Export<PathFn>("TruncateCbf");
    auto unsplit = Export<TwoPathFn>("UnsplitFile");
    auto matchDate = Export<TwoPathFn>("MatchFileDate");
    auto language = Export<LanguageFn>("GetFileLanguage");
    auto selfRegister = Export<PathFn>("SelfRegisterFile");
    auto getCount = Export<PathFn>("GetFileRefCount");
    auto setCount = Export<SetRefCountFn>("SetFileRefCount");
    auto copyKey = Export<CopyKeyFn>("CopyKey");
    auto unregister = Export<PathFn>("UnregisterZORBApps");
    auto shellRunning = Export<NoArgFn>("IsZORBRunning");
    auto appRunning = Export<PathFn>("IsZORBAppRunning");
    auto addFont = Export<PathFn>("AddFont");
    auto removeFont = Export<PathFn>("RemoveFont");
    auto gooseFont = Export<PathFn>("GooseFont");
    auto shellExecute = Export<ShellExecuteSimpleFn>("ShellExecuteSimple");
    auto systemFont = Export<BufferFn>("GetSystemFont");
    auto fixedFont = Export<BufferFn>("GetSystemFixedFont");
    auto charset = Export<NoArgFn>("GetSystemCharset");
    auto physRam = Export<NoArgFn>("GetPhysRAM");
    auto virtRam = Export<NoArgFn>("GetVirtRAM");
    auto formatDate = Export<FormatDateFn>("FormatDate");
    auto terminalServer = Export<NoArgFn>("QueryTerminalServer");
    auto hostAddress = Export<BufferFn>("GetHostIPAddr");

    const std::string m = dir_.File("merge.cbf"), p = dir_.File("prune.cbf"), t = dir_.File("truncate.cbf");
    const std::string u = dir_.File("update.cbf"), g = dir_.File("grows.bin"), pc = dir_.File("piece.bin");
    const std::string missing = dir_.File("missing.bin"), dll = ProgramFile("setupsup.dll");
    const std::string selfreg = ProgramFile("selfreg_ok.dll"), tlb = ProgramFile("selfreg_types.tlb");
    const std::string shared = sharedFile_, exe = ProgramBaseName(), font = ProgramFile("setupsup-single.ttf");
    const std::string recorder = ProgramFile("shell_recorder.exe"), record = "\"" + dir_.File("shell") + "\"";
    const std::string tree = keyRoot_ + "\\Tree", copy = keyRoot_ + "\\Copy", none = keyRoot_ + "\\None";
    char* buffer = buffer_;
    int* low = &low_;
    int* high = &high_;

    return {
        {"MergeCbf", [=] { return merge(u.c_str(), m.c_str()); }},
        {"MergeCbf bad update", [=] { return merge(g.c_str(), m.c_str()); }},
        {"MergeCbf missing", [=] { return merge(u.c_str(), missing.c_str()); }},
        {"PruneCbf", [=] { return prune(u.c_str(), p.c_str()); }},
        {"PruneCbf missing", [=] { return prune(u.c_str(), missing.c_str()); }},
        {"TruncateCbf", [=] { return truncate(t.c_str()); }},
        {"TruncateCbf missing", [=] { return truncate(missing.c_str()); }},
        {"UnsplitFile", [=] { return unsplit(g.c_str(), pc.c_str()); }},
        {"UnsplitFile missing", [=] { return unsplit(g.c_str(), missing.c_str()); }},
        {"MatchFileDate", [=] { return matchDate(pc.c_str(), g.c_str()); }},
        {"MatchFileDate missing", [=] { return matchDate(missing.c_str(), g.c_str()); }},
        {"GetFileLanguage", [=] { return language(dll.c_str(), low, high, buffer); }},
        {"GetFileLanguage missing", [=] { return language(missing.c_str(), low, high, buffer); }},
        {"SelfRegisterFile module", [=] { return selfRegister(selfreg.c_str()); }},
        {"SelfRegisterFile type library", [=] { return selfRegister(tlb.c_str()); }},
        {"SelfRegisterFile missing", [=] { return selfRegister(missing.c_str()); }},
        {"SetFileRefCount", [=] { return setCount(shared.c_str(), 3); }},
        {"GetFileRefCount", [=] { return getCount(shared.c_str()); }},
        {"GetFileRefCount missing", [=] { return getCount(missing.c_str()); }},
        {"SetFileRefCount null", [=] { return setCount(nullptr, 3); }},
        {"CopyKey", [=] { return copyKey(HKEY_CURRENT_USER, tree.c_str(), HKEY_CURRENT_USER, copy.c_str()); }},
        {"CopyKey missing", [=] { return copyKey(HKEY_CURRENT_USER, none.c_str(), HKEY_CURRENT_USER, copy.c_str()); }},
        {"UnregisterZORBApps", [=] { return unregister(tree.c_str()); }},
        {"UnregisterZORBApps missing", [=] { return unregister(none.c_str()); }},
        {"IsZORBRunning held",
         [=] {
             HANDLE held = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 32, "ZorbShellSync");
             int running = shellRunning();
             ::CloseHandle(held);
             return running;
         }},
        {"IsZORBRunning", [=] { return shellRunning(); }},
        {"IsZORBAppRunning", [=] { return appRunning(exe.c_str()); }},
        {"IsZORBAppRunning missing", [=] { return appRunning("setupsup-none.exe"); }},
        {"AddFont", [=] { return addFont(font.c_str()); }},
        {"RemoveFont", [=] { return removeFont(font.c_str()); }},
        {"AddFont missing", [=] { return addFont(missing.c_str()); }},
        {"GooseFont", [=] { return gooseFont(recorder.c_str()) > 32; }, kShellStride},
        {"GooseFont missing", [=] { return gooseFont(missing.c_str()); }},
        {"ShellExecuteSimple", [=] { return shellExecute(recorder.c_str(), record.c_str(), nullptr, SW_HIDE) > 32; },
         kShellStride},
        {"ShellExecuteSimple missing", [=] { return shellExecute(missing.c_str(), nullptr, nullptr, SW_HIDE); }},
        {"GetSystemFont", [=] { return systemFont(buffer); }},
        {"GetSystemFixedFont", [=] { return fixedFont(buffer); }},
        {"GetSystemCharset", [=] { return charset(); }},
        {"GetPhysRAM", [=] { return physRam(); }},
        {"GetVirtRAM", [=] { return virtRam(); }},
        {"FormatDate", [=] { return formatDate(2001, 12, 31, buffer); }},
        {"FormatDate invalid", [=] { return formatDate(2001, 13, 1, buffer); }},
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
        {"GetHostIPAddr null", [=] { return hostAddress(nullptr); }},
    };
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
