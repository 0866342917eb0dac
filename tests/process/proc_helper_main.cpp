// Child process of the running-instance tests. It creates the object the
// mode names, tells the parent it is ready and holds the object until the
// parent signals it to end:
//     ZorbProcHelper.exe MODE READY-EVENT QUIT-EVENT
// MODE is mapping:SIZE, event, mutex or sleep (nothing held).
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kShellSyncName[] = "ZorbShellSync";
constexpr DWORD kLongestLife = 120000; // never outlive a stuck test for long

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
    HANDLE held = CreateHeldObject(argv[1]);
    if (!held)
        return 3;
    HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE quit = ::OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (!ready || !quit)
        return 4;
    ::SetEvent(ready);
    return ::WaitForSingleObject(quit, kLongestLife) == WAIT_OBJECT_0 ? 0 : 5;
}
