// Every export of setupsup.dll as a list of calls, on its success and its
// failure paths, each call on the files and keys of one workspace, so that
// several threads can run the same list at once without touching each
// other's data. Shared by the soak and the threaded test.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/common/test_support.h"

namespace setupsup_test {

struct ExportCall {
    const char* what;
    std::function<int()> run;
    int stride = 1; // runs in rounds divisible by stride
    // Changes machine-wide state that other calls read (the product suite
    // list): never run beside another call.
    bool alone = false;
};

// The machine-wide registry state the calls read, made for the life of the
// object and put back after: the product suite list (naming Terminal
// Server) and the SharedDLLs key.
class MachineState {
public:
    MachineState();
    ~MachineState();
    MachineState(const MachineState&) = delete;
    MachineState& operator=(const MachineState&) = delete;

private:
    bool sharedDllsExisted_ = false;
};

// The files and keys of one list of calls: a scratch folder with CBF files,
// split-file pieces and a shell record, and a tree under
// HKEY_CURRENT_USER\Software\SetupsupCalls<index>; for the W exports the
// same again under names outside the ANSI code page (kForeignName), with
// copies of the programs, the module, the type library and the font they
// use. Calls() captures what it needs, so running a call allocates nothing
// (the soak counts heap bytes). Each W export's call follows its ANSI
// twin's, named as it with the W added ("MergeCbfW missing").
class ExportWorkspace {
public:
    explicit ExportWorkspace(int index);
    ~ExportWorkspace();
    ExportWorkspace(const ExportWorkspace&) = delete;
    ExportWorkspace& operator=(const ExportWorkspace&) = delete;

    std::vector<ExportCall> Calls();

private:
    ScratchDir dir_;
    std::wstring wideDir_;
    std::string keyRoot_;
    std::string sharedFile_;
    std::wstring wideSharedFile_;
    std::string userFont_;
    std::wstring wideUserFont_;
    // The Path folder and the variable of the calling user the lists add and
    // take away again, named apart per list.
    std::string pathFolder_, variable_;
    std::wstring widePathFolder_, wideVariable_;
    char buffer_[64] = {};
    wchar_t wideBuffer_[64] = {};
    int low_ = 0, high_ = 0;
};

// The index of the ANSI twin of calls[i] (the call named as it without the
// W after the export's name), or -1 when calls[i] is no W export's call.
int AnsiTwinOf(const std::vector<ExportCall>& calls, size_t i);

// Runs each list on a thread of its own, all lists at once: before every
// call the threads wait for one another, so that the same export really
// runs on every thread at the same moment. Calls marked alone are skipped;
// a call runs in rounds divisible by its stride. Returns one line per call
// whose result differed from expected[list][call], or that could not run.
std::vector<std::string> RunListsAtOnce(const std::vector<std::vector<ExportCall>>& lists,
                                        const std::vector<std::vector<int>>& expected, int firstRound, int rounds);

} // namespace setupsup_test
