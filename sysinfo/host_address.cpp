// GetHostIPAddr: the local host's IPv4 address in dotted form. Whether
// Windows Sockets 1.1 can be used is decided by the first call that gets that
// far and stands for the life of the process.
#include <windows.h>
#include <winsock.h>

#include <atomic>

#include "frame/system_entries.h"
#include "frame/text.h"
#include "setupsup.h"
#include "sysinfo/host_lookup.h"

namespace setupsup {
namespace {

enum class Sockets { kUndecided, kAvailable, kUnavailable };

// Process-wide. Two first calls at the same moment both run the check and
// reach the same outcome; one publishes it, the other gives back the start
// its check left standing, so that exactly one start stays.
constinit std::atomic<Sockets> g_sockets{Sockets::kUndecided};
static_assert(std::atomic<Sockets>::is_always_lock_free, "the decision is published without a lock");

// Windows 3.x (Win32s): no Windows Sockets 1.1 for a Win32 program.
bool IsOldestSystem()
{
    DWORD version = ::GetVersion();
    return (version & 0x80000000u) && LOBYTE(LOWORD(version)) == 3;
}

// The entry points a usable Windows Sockets must have.
bool HasRequiredEntries(const SocketEntries& sockets)
{
    return sockets.inetAddr && sockets.gethostbyaddr && sockets.gethostbyname && sockets.gethostname && sockets.startup;
}

// The availability check, with the entries it resolved left in *sockets.
// The library stays loaded whatever the outcome, and a successful start is
// left standing: later calls start and clean up their own on top of it.
Sockets CheckSockets(SocketEntries* sockets)
{
    if (IsOldestSystem())
        return Sockets::kUnavailable;
    if (!ResolveSocketEntries(sockets) || !HasRequiredEntries(*sockets))
        return Sockets::kUnavailable;
    WSADATA data = {};
    if (sockets->startup(kSocketsVersion11, &data) != 0)
        return Sockets::kUnavailable;
    BYTE major = LOBYTE(data.wVersion), minor = HIBYTE(data.wVersion);
    if (major < 1 || (major == 1 && minor < 1))
        return Sockets::kUnavailable;
    return Sockets::kAvailable;
}

// The process's decision, made by this call if no call has made it yet.
bool SocketsAvailable()
{
    Sockets decided = g_sockets.load(std::memory_order_acquire);
    if (decided != Sockets::kUndecided)
        return decided == Sockets::kAvailable;
    SocketEntries sockets;
    decided = CheckSockets(&sockets);
    Sockets expected = Sockets::kUndecided;
    if (!g_sockets.compare_exchange_strong(expected, decided, std::memory_order_acq_rel)) {
        if (decided == Sockets::kAvailable && sockets.cleanup)
            sockets.cleanup(); // the winner's start is the one left standing
        decided = expected;
    }
    return decided == Sockets::kAvailable;
}

// The dotted address into address (kDottedAddressBytes), or the empty
// string and the failure's code.
int WriteHostAddress(char* address)
{
    address[0] = '\0';
    if (!SocketsAvailable())
        return kSocketsUnavailable;
    SocketEntries sockets;
    ResolveSocketEntries(&sockets); // loaded by the check; its entries afresh for this call
    return ReportHostAddress(address, sockets);
}

} // namespace
} // namespace setupsup

// Needs no memory beyond its stack, so it never returns 1. A null buffer
// cannot receive an address: 8, before the availability check, so that the
// first real call still makes that decision.
extern "C" int WINAPI GetHostIPAddr(char* address)
{
    if (!address)
        return setupsup::kHostAddressUnknown;
    return setupsup::WriteHostAddress(address);
}

// The same address (always ASCII) in a buffer of 16 UTF-16 characters.
extern "C" int WINAPI GetHostIPAddrW(wchar_t* address)
{
    if (!address)
        return setupsup::kHostAddressUnknown;
    char ansi[setupsup::kDottedAddressBytes];
    const int result = setupsup::WriteHostAddress(ansi);
    setupsup::CopyAscii(address, ansi);
    return result;
}
