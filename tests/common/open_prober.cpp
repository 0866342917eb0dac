// A process that tries to open a file again and again, as another program
// would while an installer works on it: open_prober PATH READY STOP LOG.
// It opens PATH for reading with every sharing allowed and closes it at
// once, over and over, pausing as long as each attempt took; sets the event READY after its first attempt; stops
// when the event STOP is set; then writes one line per attempt to LOG:
// when it began and ended (QueryPerformanceCounter, which all processes of
// a system read alike) and 1 when the file opened, else 0.
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

struct Attempt {
    LONGLONG began, ended;
    bool opened;
};

LONGLONG Now()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE stop = ::OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (!ready || !stop)
        return 3;
    std::vector<Attempt> attempts;
    attempts.reserve(1 << 16);
    do {
        const LONGLONG began = Now();
        HANDLE file = ::CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        const bool opened = file != INVALID_HANDLE_VALUE;
        if (opened)
            ::CloseHandle(file);
        attempts.push_back({began, Now(), opened});
        if (attempts.size() == 1)
            ::SetEvent(ready);
        // A pause as long as an attempt, so that a call that comes to open
        // the file finds it free about half the time (a wait of the
        // system's smallest timeout, a millisecond or more, would leave a
        // short call with too few attempts to judge it).
        const LONGLONG resume = Now() + (attempts.back().ended - began);
        while (Now() < resume) {}
    } while (::WaitForSingleObject(stop, 0) == WAIT_TIMEOUT);
    FILE* log = std::fopen(argv[4], "w");
    if (!log)
        return 4;
    for (const Attempt& a : attempts)
        std::fprintf(log, "%lld %lld %d\n", a.began, a.ended, a.opened ? 1 : 0);
    return std::fclose(log) == 0 ? 0 : 4;
}
