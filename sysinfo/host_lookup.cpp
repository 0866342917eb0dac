// Host name and address through Windows Sockets 1.1, entry points resolved
// at run time (the library never imports "wsock32.dll").
#include <windows.h>
#include <winsock.h>
#include <cstdio>
#include <cstring>

#include "sysinfo/host_lookup.h"

namespace setupsup {
namespace {

constexpr int kHostNameBytes = 64;
constexpr int kIPv4Bytes = 4;

// Runs call (which returns false when its entry point is missing) with
// Windows Sockets started for it. A failed start or a grant other than
// exactly 1.1 fails without running call; every start is cleaned up.
template <typename Call>
bool WithSockets(const SocketEntries& sockets, Call call)
{
    if (!sockets.startup || !sockets.cleanup)
        return false;
    WSADATA data = {};
    if (sockets.startup(kSocketsVersion11, &data) != 0)
        return false;
    bool done = data.wVersion == kSocketsVersion11 && call();
    sockets.cleanup();
    return done;
}

// Fills name (kHostNameBytes) with the host name, or the empty string when
// gethostname fails; false when Windows Sockets could not be used.
bool GetHostName(const SocketEntries& sockets, char* name)
{
    name[0] = '\0';
    return WithSockets(sockets, [&] {
        if (!sockets.gethostname)
            return false;
        if (sockets.gethostname(name, kHostNameBytes) != 0)
            name[0] = '\0';
        name[kHostNameBytes - 1] = '\0';
        return true;
    });
}

// Copies the entry's first address (network order; 0 when it has none)
// while the entry is still valid. False when there is no entry.
bool TakeFirstAddress(const hostent* entry, u_long* address)
{
    if (!entry)
        return false;
    *address = 0;
    if (entry->h_addr_list && entry->h_addr_list[0] && entry->h_length >= kIPv4Bytes)
        std::memcpy(address, entry->h_addr_list[0], kIPv4Bytes);
    return true;
}

int CountDots(const char* name)
{
    int dots = 0;
    for (; *name; ++name)
        dots += *name == '.';
    return dots;
}

// A name of dotted form is looked up in reverse first; it and every other
// name fall back to the forward lookup. Sets *found when an entry came back.
bool LookUpHost(const SocketEntries& sockets, const char* name, bool* found, u_long* address)
{
    *found = false;
    if (CountDots(name) == 3) {
        unsigned long converted = INADDR_NONE;
        bool converting = WithSockets(sockets, [&] {
            if (!sockets.inetAddr)
                return false;
            converted = sockets.inetAddr(name);
            return true;
        });
        if (!converting)
            return false;
        if (converted != INADDR_NONE) {
            bool reversing = WithSockets(sockets, [&] {
                if (!sockets.gethostbyaddr)
                    return false;
                *found = TakeFirstAddress(
                    sockets.gethostbyaddr(reinterpret_cast<const char*>(&converted), kIPv4Bytes, AF_INET), address);
                return true;
            });
            if (!reversing)
                return false;
        }
    }
    if (*found)
        return true;
    return WithSockets(sockets, [&] {
        if (!sockets.gethostbyname)
            return false;
        *found = TakeFirstAddress(sockets.gethostbyname(name), address);
        return true;
    });
}

// The host-order IPv4 address of name, or 0 when it cannot be obtained.
u_long ResolveHost(const SocketEntries& sockets, const char* name)
{
    if (name[0] == '\0')
        return 0;
    bool found = false;
    u_long network = 0;
    if (!LookUpHost(sockets, name, &found, &network) || !found)
        return 0;
    u_long host = 0;
    bool converted = WithSockets(sockets, [&] {
        if (!sockets.ntohl)
            return false;
        host = sockets.ntohl(network);
        return true;
    });
    return converted ? host : 0;
}

} // namespace

int ReportHostAddress(char* address, const SocketEntries& sockets)
{
    address[0] = '\0';
    char name[kHostNameBytes];
    if (!GetHostName(sockets, name))
        return kHostAddressUnknown;
    u_long host = ResolveHost(sockets, name);
    if (host == 0)
        return kHostAddressUnknown;
    std::snprintf(address, kDottedAddressBytes, "%lu.%lu.%lu.%lu", (host >> 24) & 0xFF, (host >> 16) & 0xFF,
                  (host >> 8) & 0xFF, host & 0xFF);
    return kHostAddressFound;
}

} // namespace setupsup
