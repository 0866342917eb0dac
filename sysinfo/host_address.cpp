// GetHostIPAddr: the local host's IPv4 address in dotted form. Whether
// Windows Sockets 1.1 can be used is decided by the first call that gets that
// far and stands for the life of the process.
#include <windows.h>
#include <winsock.h>

#include "frame/entry_points.h"
#include "setupsup.h"
#include "sysinfo/host_lookup.h"

namespace {

// The entry points a usable Windows Sockets must have, checked in this order.
constexpr const char* kRequiredEntries[] = {"inet_addr", "gethostbyaddr", "gethostbyname", "gethostname", "WSAStartup"};

enum class Sockets { Undecided, Available, Unavailable };

// Process-wide, written without synchronisation: two first calls at the
// same moment both run the check and reach the same outcome.
Sockets g_sockets = Sockets::Undecided;

// Windows 3.x (Win32s): no Windows Sockets 1.1 for a Win32 program.
bool IsOldestSystem()
{
    DWORD version = ::GetVersion();
    return (version & 0x80000000u) && LOBYTE(LOWORD(version)) == 3;
}

// The library stays loaded whatever the outcome, and a successful start is
// left standing: later calls start and clean up their own on top of it.
Sockets CheckSockets()
{
    if (IsOldestSystem())
        return Sockets::Unavailable;
    HMODULE library = ::LoadLibraryA(setupsup::kSocketsLibrary);
    if (!library)
        return Sockets::Unavailable;
    for (const char* name : kRequiredEntries)
        if (!::GetProcAddress(library, name))
            return Sockets::Unavailable;
    auto startup = setupsup::FindEntry<setupsup::StartupFn>(library, "WSAStartup");
    WSADATA data = {};
    if (startup(setupsup::kSocketsVersion11, &data) != 0)
        return Sockets::Unavailable;
    BYTE major = LOBYTE(data.wVersion), minor = HIBYTE(data.wVersion);
    if (major < 1 || (major == 1 && minor < 1))
        return Sockets::Unavailable;
    return Sockets::Available;
}

} // namespace

// Needs no memory beyond its stack, so it never returns 1. A null buffer
// cannot receive an address: 8, before the availability check, so that the
// first real call still makes that decision.
extern "C" int WINAPI GetHostIPAddr(char* address)
{
    if (!address)
        return setupsup::kHostAddressUnknown;
    address[0] = '\0';
    if (g_sockets == Sockets::Undecided)
        g_sockets = CheckSockets();
    if (g_sockets == Sockets::Unavailable)
        return setupsup::kSocketsUnavailable;
    return setupsup::ReportHostAddress(address, setupsup::LookUpSocketEntry);
}
