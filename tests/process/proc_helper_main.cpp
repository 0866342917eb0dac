// Child process of the running-instance and process tests. It creates the
// object the mode names, tells the parent it is ready and holds the object
// until the parent signals it to end:
//     ZorbProcHelper.exe MODE READY-EVENT QUIT-EVENT
// MODE is mapping:SIZE, event, mutex or sleep (nothing held); or, for the
// process tests, a window of one kind: closes (ends on WM_CLOSE, exit code
// 0), ignores (WM_CLOSE does nothing), hung (its thread never reads its
// messages); or load:PATH (a DLL loaded, no window).
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kShellSyncName[] = "ZorbShellSync";
constexpr DWORD kLongestLife = 120000; // never outlive a stuck test for long

// WM_CLOSE ends the "closes" window's program; the "ignores" one drops it.
LRESULT CALLBACK KidWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE && ::GetWindowLongPtrA(window, GWLP_USERDATA) != 0)
        return 0;
    if (message == WM_DESTROY)
        ::PostQuitMessage(0);
    return ::DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateKidWindow(bool ignoresClose)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = KidWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ZorbKidWindow";
    ::RegisterClassA(&windowClass);
    HWND window = ::CreateWindowExA(0, windowClass.lpszClassName, "ZorbKid", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                    nullptr, windowClass.hInstance, nullptr);
    if (window)
        ::SetWindowLongPtrA(window, GWLP_USERDATA, ignoresClose ? 1 : 0);
    return window;
}

// Reads messages until WM_QUIT (exit 0) or the quit event (exit 0).
int PumpUntilQuit(HANDLE quit)
{
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < kLongestLife) {
        if (::MsgWaitForMultipleObjects(1, &quit, FALSE, 1000, QS_ALLINPUT) == WAIT_OBJECT_0)
            return 0;
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return 0;
            ::DispatchMessageA(&message);
        }
    }
    return 5;
}

// The process tests' modes: -1 for any other mode.
int RunKid(const char* mode, HANDLE ready, HANDLE quit)
{
    const bool closes = std::strcmp(mode, "closes") == 0, ignores = std::strcmp(mode, "ignores") == 0;
    const bool hung = std::strcmp(mode, "hung") == 0, loads = std::strncmp(mode, "load:", 5) == 0;
    if (!closes && !ignores && !hung && !loads)
        return -1;
    if (loads ? !::LoadLibraryA(mode + 5) : !CreateKidWindow(ignores))
        return 3;
    ::SetEvent(ready);
    if (closes || ignores)
        return PumpUntilQuit(quit);
    // hung: the window's thread waits and never reads a message.
    return ::WaitForSingleObject(quit, kLongestLife) == WAIT_OBJECT_0 ? 0 : 5;
}

HANDLE CreateHeldObject(const char* mode)
{
    if (std::strncmp(mode, "mapping:", 8) == 0) {
        DWORD size = std::strtoul(mode + 8, nullptr, 10);
        return ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, kShellSyncName);
    }
    if (std::strcmp(mode, "event") == 0)
        return ::CreateEventA(nullptr, TRUE, FALSE, kShellSyncName);
    if (std::strcmp(mode, "mutex") == 0)
        return ::CreateMutexA(nullptr, FALSE, kShellSyncName);
    if (std::strcmp(mode, "sleep") == 0)
        return ::GetCurrentProcess();
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE quit = ::OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (!ready || !quit)
        return 4;
    if (int kid = RunKid(argv[1], ready, quit); kid >= 0)
        return kid;
    HANDLE held = CreateHeldObject(argv[1]);
    if (!held)
        return 3;
    ::SetEvent(ready);
    return ::WaitForSingleObject(quit, kLongestLife) == WAIT_OBJECT_0 ? 0 : 5;
}
