// Every export called from eight threads at once, each thread on its own
// files and keys, the threads waiting for one another before every call so
// that the same export really runs on all of them at the same moment: each
// call gives what it gives alone. Installers call from more than one thread
// (an NSIS page callback beside the install sections, custom-action hosts on
// pool threads), and a call must never crash, hang or change its result
// because another runs beside it.
#include "tests/common/test_support.h"
#include "tests/frame/export_calls.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace setupsup_test;

namespace {

constexpr int kThreads = 8;
// Round 0 includes the shell launches; the rest repeat every other call.
constexpr int kRounds = 20;

} // namespace

TEST(Threads, EveryExportGivesOnEightThreadsAtOnceWhatItGivesAlone)
{
    MachineState machine;
    std::vector<std::unique_ptr<ExportWorkspace>> workspaces;
    std::vector<std::vector<ExportCall>> lists;
    std::vector<std::vector<int>> alone;
    for (int t = 0; t < kThreads; ++t) {
        workspaces.push_back(std::make_unique<ExportWorkspace>(t));
        lists.push_back(workspaces.back()->Calls());
        std::vector<int> results;
        for (const ExportCall& call : lists.back())
            results.push_back(call.run());
        alone.push_back(results);
    }
    // The lists are alike: so are their results alone, for every thread.
    for (int t = 1; t < kThreads; ++t)
        for (size_t i = 0; i < alone[0].size(); ++i)
            EXPECT_EQ(alone[t][i], alone[0][i]) << "workspace " << t << " alone: " << lists[0][i].what;
    ASSERT_FALSE(::testing::Test::HasFailure());

    std::vector<std::string> faults = RunListsAtOnce(lists, alone, 0, kRounds);
    for (const std::string& fault : faults)
        ADD_FAILURE() << fault;
}

// The list holds a call of every export the DLL has (named as the export, or
// as it and a case after a space): an export added without its row would
// escape both this test and the soak.
TEST(Threads, ListCallsEveryExport)
{
    ExportWorkspace workspace(0);
    const std::vector<ExportCall> calls = workspace.Calls();
    for (const std::string& name : ExportedNames(Dll())) {
        const bool listed = std::any_of(calls.begin(), calls.end(), [&name](const ExportCall& call) {
            const std::string what = call.what;
            return what == name || what.rfind(name + " ", 0) == 0;
        });
        EXPECT_TRUE(listed) << name << " has no call in tests/frame/export_calls.cpp";
    }
}
