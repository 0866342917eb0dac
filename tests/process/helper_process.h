// A running ZorbProcHelper.exe (or a copy of it under another name) that
// holds one object until the wrapper is destroyed or Stop() is called.
#pragma once

#include <windows.h>

#include <string>

namespace process_test {

class HelperProcess {
public:
    // mode: "mapping:SIZE", "event", "mutex", "sleep", "closes", "ignores",
    // "hung" or "load:PATH" (proc_helper_main.cpp). exePath: the
    // program to run; empty means ZorbProcHelper.exe next to the test.
    explicit HelperProcess(const std::string& mode, const std::string& exePath = "");
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // True once the child reported it holds its object.
    bool ready() const { return ready_; }
    // The child's process handle (null once stopped).
    HANDLE process() const { return child_.hProcess; }
    // Tells the child to end and waits for it; returns its exit code.
    DWORD Stop();

private:
    HANDLE readyEvent_ = nullptr;
    HANDLE quitEvent_ = nullptr;
    PROCESS_INFORMATION child_{};
    bool ready_ = false;
};

// A precondition (setupsup_test::Precondition) of the programs whose tests
// take one family's path: the system reports platform id `platform` to this
// program. The prefix decides it per program (CMakeLists.txt).
void RequirePlatform(DWORD platform);

} // namespace process_test
