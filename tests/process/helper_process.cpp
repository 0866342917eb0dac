#include "tests/process/helper_process.h"

#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <cstdio>

namespace process_test {

namespace {
constexpr DWORD kStartTimeout = 60000; // a Wine process start is slow under emulation
constexpr DWORD kStopTimeout = 60000;

std::string UniqueEventName(const char* role)
{
    static LONG serial;
    char name[96];
    std::snprintf(name, sizeof name, "ZorbProcTest-%s-%lu-%ld", role, ::GetCurrentProcessId(),
                  ::InterlockedIncrement(&serial));
    return name;
}
} // namespace

HelperProcess::HelperProcess(const std::string& mode, const std::string& exePath)
{
    std::string readyName = UniqueEventName("ready"), quitName = UniqueEventName("quit");
    readyEvent_ = ::CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
    quitEvent_ = ::CreateEventA(nullptr, TRUE, FALSE, quitName.c_str());
    if (!readyEvent_ || !quitEvent_)
        return;
    std::string program = exePath.empty() ? setupsup_test::ProgramFile("ZorbProcHelper.exe") : exePath;
    // The mode quoted: a load:PATH mode may hold spaces.
    std::string commandLine = "\"" + program + "\" \"" + mode + "\" " + readyName + " " + quitName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &child_))
        return;
    HANDLE waits[2] = {readyEvent_, child_.hProcess};
    ready_ = ::WaitForMultipleObjects(2, waits, FALSE, kStartTimeout) == WAIT_OBJECT_0;
}

DWORD HelperProcess::Stop()
{
    DWORD code = static_cast<DWORD>(-1);
    if (!child_.hProcess)
        return code;
    ::SetEvent(quitEvent_);
    if (::WaitForSingleObject(child_.hProcess, kStopTimeout) != WAIT_OBJECT_0)
        ::TerminateProcess(child_.hProcess, 99);
    ::GetExitCodeProcess(child_.hProcess, &code);
    ::CloseHandle(child_.hThread);
    ::CloseHandle(child_.hProcess);
    child_ = {};
    return code;
}

HelperProcess::~HelperProcess()
{
    Stop();
    if (readyEvent_)
        ::CloseHandle(readyEvent_);
    if (quitEvent_)
        ::CloseHandle(quitEvent_);
}

void RequirePlatform(DWORD platform)
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(::GetVersionExA(&version));
    ASSERT_EQ(version.dwPlatformId, platform)
        << (platform == VER_PLATFORM_WIN32_WINDOWS
                ? "this program must run with HKCU\\Software\\Wine\\AppDefaults\\<its name>\\Version = win98"
                : "this program must run as the NT family (Wine's default)");
}

} // namespace process_test
