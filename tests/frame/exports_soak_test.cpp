// Nothing left behind: every export called many times in one process, on its
// success and its failure paths, after which the process's handles, busy
// heap bytes and loaded modules are where they were after a warm-up round,
// and every call still gives the result it gave the first time. One round in
// the middle runs on eight threads at once, each on its own files and keys.
//
// SETUPSUP_SOAK_CALLS sets the number of rounds (1000 by default; scripts/soak
// N runs this program with N). Starting a program through the shell costs a
// process start, so the two shell exports take their success path only once
// every 200 rounds.
#include "tests/common/test_support.h"
#include "tests/frame/export_calls.h"

#include <psapi.h>

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace setupsup_test;

namespace {

constexpr int kDefaultRounds = 1000;
constexpr int kWarmUpRounds = 3;
constexpr int kThreads = 8;
// What the system and the C runtime may keep after the threaded round for
// serving eight callers at once, on top of what one caller needs (measured
// under Wine 8: 0 to 832 bytes, most in the first such round: stream
// records for sixteen open streams, a type library loaded on several
// threads). The serial rounds around it are held to exactly nothing.
constexpr SIZE_T kThreadedRoundHeapAllowance = 4096;

struct Usage {
    long handles = 0;
    SIZE_T heapBytes = 0;
    DWORD modules = 0;
};

// Busy bytes of every heap of the process (the C runtime keeps its own).
SIZE_T BusyHeapBytes()
{
    HANDLE heaps[64];
    DWORD count = ::GetProcessHeaps(64, heaps);
    SIZE_T busy = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        ::HeapLock(heaps[i]);
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        ::HeapUnlock(heaps[i]);
    }
    return busy;
}

Usage Measure()
{
    Usage usage;
    usage.heapBytes = BusyHeapBytes(); // first: the others allocate
    HMODULE modules[512];
    DWORD bytes = 0;
    if (::EnumProcessModules(::GetCurrentProcess(), modules, sizeof modules, &bytes))
        usage.modules = bytes / sizeof modules[0];
    usage.handles = CountProcessHandles();
    return usage;
}

// The results of one round of calls, each run once, in order.
std::vector<int> RunAlone(const std::vector<ExportCall>& calls)
{
    std::vector<int> results;
    for (const ExportCall& call : calls)
        results.push_back(call.run());
    return results;
}

int Rounds()
{
    const char* calls = std::getenv("SETUPSUP_SOAK_CALLS");
    return calls ? std::atoi(calls) : kDefaultRounds;
}

// True under a Wine whose own functions leave heap blocks behind (10.x).
bool WineHeapGrowsOnItsOwn()
{
    using WineVersionFn = const char*(CDECL*)();
    auto wineVersion = reinterpret_cast<WineVersionFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    return wineVersion && std::strncmp(wineVersion(), "10.", 3) == 0;
}

// Names the calls after which heap blocks stay behind: more rounds in the
// same order, with the busy heap bytes compared around every call and the
// changes summed per call.
void ReportHeapGrowthPerCall(const std::vector<ExportCall>& calls)
{
    constexpr int kRounds = 100;
    std::vector<long long> growth(calls.size(), 0);
    for (int round = 1; round <= kRounds; ++round)
        for (size_t i = 0; i < calls.size(); ++i) {
            if (round % calls[i].stride != 0)
                continue;
            const SIZE_T before = BusyHeapBytes();
            calls[i].run();
            growth[i] += static_cast<long long>(BusyHeapBytes()) - static_cast<long long>(before);
        }
    for (size_t i = 0; i < calls.size(); ++i)
        if (growth[i] != 0)
            std::printf("%s: busy heap bytes changed by %lld over %d rounds\n", calls[i].what, growth[i], kRounds);
}

} // namespace

TEST(Soak, EveryExportLeavesNothingBehindAndGivesTheSameResults)
{
    const int rounds = Rounds();
    MachineState machine;
    // The threaded round's workspaces and lists are made before anything
    // is measured, and each list's results alone are known beforehand.
    std::vector<std::unique_ptr<ExportWorkspace>> workspaces;
    std::vector<std::vector<ExportCall>> lists;
    for (int t = 0; t < kThreads; ++t) {
        workspaces.push_back(std::make_unique<ExportWorkspace>(t));
        lists.push_back(workspaces.back()->Calls());
    }
    const std::vector<ExportCall>& calls = lists[0];
    std::vector<std::vector<int>> alone;
    for (const std::vector<ExportCall>& list : lists)
        alone.push_back(RunAlone(list));
    const std::vector<int>& first = alone[0];
    for (int round = 1; round < kWarmUpRounds; ++round)
        RunAlone(calls);
    // What the system keeps once for eight callers at once comes in here,
    // not in the measured threaded round.
    for (const std::string& fault : RunListsAtOnce(lists, alone, 1, 1))
        ADD_FAILURE() << "threaded warm-up: " << fault;

    std::vector<int> drifted(calls.size(), 0), lastSeen(calls.size(), 0);
    std::vector<std::string> threadFaults;
    long long threadedHeapGrowth = 0;
    const int threadedRound = rounds / 2;
    const Usage before = Measure();
    DWORD start = ::GetTickCount();
    for (int round = 1; round <= rounds; ++round) {
        if (round == threadedRound) {
            const SIZE_T heapBefore = BusyHeapBytes();
            threadFaults = RunListsAtOnce(lists, alone, round, 1);
            threadFaults.shrink_to_fit();
            threadedHeapGrowth = static_cast<long long>(BusyHeapBytes()) - static_cast<long long>(heapBefore);
            continue;
        }
        for (size_t i = 0; i < calls.size(); ++i) {
            if (round % calls[i].stride != 0)
                continue;
            int result = calls[i].run();
            if (result != first[i]) {
                ++drifted[i];
                lastSeen[i] = result;
            }
        }
    }
    DWORD elapsed = ::GetTickCount() - start;
    const Usage after = Measure();

    std::printf(
        "%d rounds of %u calls (round %d on %d threads) in %lu ms; handles %ld -> %ld, busy heap bytes "
        "%lu -> %lu (%lld of them in the threaded round), modules %lu -> %lu\n",
        rounds, static_cast<unsigned>(calls.size()), threadedRound, kThreads, static_cast<unsigned long>(elapsed),
        before.handles, after.handles, static_cast<unsigned long>(before.heapBytes),
        static_cast<unsigned long>(after.heapBytes), threadedHeapGrowth, before.modules, after.modules);
    EXPECT_EQ(after.handles, before.handles) << "handles left open";
    const SIZE_T serialHeapBytes = after.heapBytes - static_cast<SIZE_T>(threadedHeapGrowth);
    if (serialHeapBytes != before.heapBytes)
        ReportHeapGrowthPerCall(calls);
    // Wine 10.0 (Debian 13) deviates twice, so there both growths are
    // reported above but not judged:
    // - its registry functions leave a few dozen bytes on the process heap
    //   now and then (seen after SetFileRefCount's open, set and close of a
    //   key, which allocates nothing itself);
    // - its heap takes blocks for new threads in some threaded rounds,
    //   whatever the threads call: eight threads that only open a key and
    //   allocate kept 15 KB, 280 KB and 3 KB in their first three rounds;
    //   forty rounds of the eight export lists kept 3 KB to 270 KB in seven
    //   rounds, at random, and nothing in the other 33.
    // Wine 8.0 keeps the heap exact, and the checks hold there.
    if (!WineHeapGrowsOnItsOwn()) {
        EXPECT_LE(threadedHeapGrowth, static_cast<long long>(kThreadedRoundHeapAllowance))
            << "heap bytes kept after the threaded round";
        EXPECT_EQ(serialHeapBytes, before.heapBytes) << "heap blocks left allocated by the serial rounds";
    }
    EXPECT_EQ(after.modules, before.modules) << "modules left loaded";
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(drifted[i], 0) << calls[i].what << ": first " << first[i] << ", later " << lastSeen[i];
    for (const std::string& fault : threadFaults)
        ADD_FAILURE() << "threaded round: " << fault;
    // Each W export gives what its ANSI twin gives (the prefix's short date
    // is ASCII: as many characters as bytes).
    for (size_t i = 0; i < calls.size(); ++i) {
        const int twin = AnsiTwinOf(calls, i);
        if (twin >= 0) {
            EXPECT_EQ(first[i], first[twin]) << calls[i].what << " against " << calls[twin].what;
        }
    }
    auto resultOf = [&](const std::string& what) {
        for (size_t i = 0; i < calls.size(); ++i)
            if (what == calls[i].what)
                return first[i];
        ADD_FAILURE() << "no call " << what;
        return 0x7fffffff;
    };
    EXPECT_EQ(resultOf("MergeCbf"), 0) << "the merge succeeds";
    EXPECT_EQ(resultOf("MergeCbf missing"), -1) << "the missing target fails";
}
