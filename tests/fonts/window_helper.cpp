// Child process of the font tests: one top-level window in another process.
//     window_helper.exe MODE READY-EVENT QUIT-EVENT
// MODE "hung": the window's thread stops pumping messages once the window
// exists, as a program that hangs. MODE "listen:MAPPING": the window counts
// each WM_FONTCHANGE it handles in the first 32-bit word of the named
// mapping, and the thread pumps until told to end.
#include <windows.h>

#include <cstring>

namespace {

constexpr DWORD kLongestLife = 120000; // never outlive a stuck test for long
constexpr char kListen[] = "listen:";

volatile LONG* g_counter = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_FONTCHANGE && g_counter)
        ::InterlockedIncrement(g_counter);
    return ::DefWindowProcA(window, message, wParam, lParam);
}

bool CreateTopLevelWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SetupsupWindowHelper";
    ::RegisterClassA(&windowClass);
    return ::CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                             windowClass.hInstance, nullptr) != nullptr;
}

// Pumps until quit is signalled (or the longest life ends).
void Pump(HANDLE quit)
{
    DWORD started = ::GetTickCount();
    while (::GetTickCount() - started < kLongestLife) {
        if (::MsgWaitForMultipleObjects(1, &quit, FALSE, 1000, QS_ALLINPUT) == WAIT_OBJECT_0)
            return;
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&message);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const char* mode = argv[1];
    bool listen = std::strncmp(mode, kListen, sizeof kListen - 1) == 0;
    if (listen) {
        HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, mode + sizeof kListen - 1);
        g_counter = mapping ? static_cast<volatile LONG*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
        if (!g_counter)
            return 3;
    } else if (std::strcmp(mode, "hung") != 0) {
        return 2;
    }
    if (!CreateTopLevelWindow())
        return 3;
    HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE quit = ::OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (!ready || !quit)
        return 4;
    ::SetEvent(ready);
    if (listen)
        Pump(quit);
    else
        ::WaitForSingleObject(quit, kLongestLife); // no messages pumped: hung
    return 0;
}
