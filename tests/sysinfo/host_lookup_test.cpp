// The lookup behind GetHostIPAddr with its Windows Sockets entry points
// replaced. Wine always resolves its own host name (to an interface address
// or 127.0.0.1), so the unresolved name, the zero address and the reverse
// lookup of a dotted name cannot be produced through the real host. The
// library's sources are compiled in with their test seams: the entry points
// come from the test builds' entry resolver, the only fake in these tests;
// wsock32.dll itself is loaded for real.
#include "sysinfo/host_lookup.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

namespace {

struct FakeSockets {
    std::string hostName = "buildhost";
    bool hostNameFails = false;
    int startupError = 0;
    WORD grant = 0x0101;
    hostent* forward = nullptr;
    hostent* reverse = nullptr;
    std::set<std::string> missing;

    int starts = 0, cleanups = 0, inetAddrCalls = 0, byAddrCalls = 0, byNameCalls = 0;
    int callsWhileStopped = 0;
    std::string byNameArgument;
    u_long byAddrArgument = 0;
};

FakeSockets* g_fake;

void CheckStarted()
{
    if (g_fake->starts - g_fake->cleanups <= 0)
        ++g_fake->callsWhileStopped;
}

int WINAPI FakeStartup(WORD, LPWSADATA data)
{
    if (g_fake->startupError)
        return g_fake->startupError;
    ++g_fake->starts;
    data->wVersion = g_fake->grant;
    return 0;
}
int WINAPI FakeCleanup()
{
    ++g_fake->cleanups;
    return 0;
}
int WINAPI FakeGetHostName(char* name, int length)
{
    CheckStarted();
    if (g_fake->hostNameFails)
        return SOCKET_ERROR;
    std::snprintf(name, length, "%s", g_fake->hostName.c_str());
    return 0;
}
unsigned long WINAPI FakeInetAddr(const char* text)
{
    CheckStarted();
    ++g_fake->inetAddrCalls;
    unsigned a, b, c, d;
    char end;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
        return INADDR_NONE;
    unsigned long address;
    unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                              static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    std::memcpy(&address, bytes, 4);
    return address;
}
hostent* WINAPI FakeGetHostByAddr(const char* address, int length, int family)
{
    CheckStarted();
    ++g_fake->byAddrCalls;
    if (length == 4 && family == AF_INET)
        std::memcpy(&g_fake->byAddrArgument, address, 4);
    return g_fake->reverse;
}
hostent* WINAPI FakeGetHostByName(const char* name)
{
    CheckStarted();
    ++g_fake->byNameCalls;
    g_fake->byNameArgument = name;
    return g_fake->forward;
}
u_long WINAPI FakeNtohl(u_long value)
{
    CheckStarted();
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

FARPROC WINAPI FakeResolver(HMODULE, LPCSTR name)
{
    if (g_fake->missing.count(name))
        return nullptr;
    struct {
        const char* name;
        void* entry;
    } table[] = {
        {"WSAStartup", reinterpret_cast<void*>(FakeStartup)},
        {"WSACleanup", reinterpret_cast<void*>(FakeCleanup)},
        {"gethostname", reinterpret_cast<void*>(FakeGetHostName)},
        {"inet_addr", reinterpret_cast<void*>(FakeInetAddr)},
        {"gethostbyaddr", reinterpret_cast<void*>(FakeGetHostByAddr)},
        {"gethostbyname", reinterpret_cast<void*>(FakeGetHostByName)},
        {"ntohl", reinterpret_cast<void*>(FakeNtohl)},
    };
    for (const auto& e : table)
        if (std::strcmp(e.name, name) == 0)
            return reinterpret_cast<FARPROC>(e.entry);
    return nullptr;
}

// A host entry with one IPv4 address (or none when empty).
struct Entry {
    explicit Entry(std::initializer_list<unsigned char> address)
    {
        std::copy(address.begin(), address.end(), bytes);
        list[0] = address.size() ? reinterpret_cast<char*>(bytes) : nullptr;
        entry.h_name = const_cast<char*>("host");
        entry.h_addrtype = AF_INET;
        entry.h_length = 4;
        entry.h_addr_list = list;
    }
    unsigned char bytes[4] = {};
    char* list[2] = {};
    hostent entry = {};
};

class HostLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fake = &fake;
        setupsup::g_resolveEntry = FakeResolver;
    }
    void TearDown() override
    {
        EXPECT_EQ(fake.starts, fake.cleanups) << "every start is balanced by a cleanup";
        EXPECT_EQ(fake.callsWhileStopped, 0) << "every sockets call made with sockets started";
        setupsup::g_resolveEntry = ::GetProcAddress;
        g_fake = nullptr;
    }
    // The call's entries resolved as GetHostIPAddr resolves them. The
    // caller's 16 bytes end at an inaccessible page: a write past them faults.
    int Report()
    {
        std::memset(address, 'x', 16);
        setupsup::SocketEntries sockets;
        if (!setupsup::ResolveSocketEntries(&sockets)) {
            ADD_FAILURE() << "wsock32.dll did not load";
            return -1;
        }
        return setupsup::ReportHostAddress(address, sockets);
    }
    FakeSockets fake;
    setupsup_test::GuardedBuffer guarded{16};
    char* address = guarded.data();
};

} // namespace

TEST_F(HostLookup, ForwardLookupGivesTheDottedAddress)
{
    Entry host({192, 168, 1, 20});
    fake.forward = &host.entry;
    EXPECT_EQ(Report(), 0);
    EXPECT_STREQ(address, "192.168.1.20");
    EXPECT_EQ(fake.byNameArgument, "buildhost");
    EXPECT_EQ(fake.inetAddrCalls, 0) << "a name without three dots is not converted";
    EXPECT_EQ(fake.byAddrCalls, 0);

    Entry widest({255, 255, 255, 255});
    fake.forward = &widest.entry;
    EXPECT_EQ(Report(), 0);
    EXPECT_STREQ(address, "255.255.255.255") << "15 characters and the NUL fit 16 bytes";
}

TEST_F(HostLookup, UnresolvedOrZeroAddressGives8)
{
    EXPECT_EQ(Report(), 8) << "no entry";
    EXPECT_STREQ(address, "");

    Entry zero({0, 0, 0, 0});
    fake.forward = &zero.entry;
    EXPECT_EQ(Report(), 8) << "0.0.0.0";
    EXPECT_STREQ(address, "");

    Entry empty({});
    fake.forward = &empty.entry;
    EXPECT_EQ(Report(), 8) << "an entry without addresses";
    EXPECT_STREQ(address, "");
}

TEST_F(HostLookup, DottedNameIsLookedUpInReverseFirst)
{
    Entry reverse({10, 1, 2, 3});
    Entry forward({192, 168, 1, 20});
    fake.hostName = "10.1.2.3";
    fake.reverse = &reverse.entry;
    fake.forward = &forward.entry;
    EXPECT_EQ(Report(), 0);
    EXPECT_STREQ(address, "10.1.2.3") << "the reverse lookup's entry is used";
    unsigned char asked[4];
    std::memcpy(asked, &fake.byAddrArgument, 4);
    EXPECT_EQ(asked[0], 10) << "gethostbyaddr gets the converted address in network order";
    EXPECT_EQ(asked[3], 3);
    EXPECT_EQ(fake.byNameCalls, 0) << "no forward lookup after a reverse entry";

    fake.reverse = nullptr;
    EXPECT_EQ(Report(), 0);
    EXPECT_STREQ(address, "192.168.1.20") << "no reverse entry: forward lookup of the name";
    EXPECT_EQ(fake.byNameArgument, "10.1.2.3");
}

TEST_F(HostLookup, UnconvertibleDottedNameGoesForward)
{
    Entry forward({172, 16, 0, 9});
    fake.hostName = "a.b.c.d";
    fake.forward = &forward.entry;
    EXPECT_EQ(Report(), 0);
    EXPECT_STREQ(address, "172.16.0.9");
    EXPECT_EQ(fake.inetAddrCalls, 1) << "three dots: converted";
    EXPECT_EQ(fake.byAddrCalls, 0) << "INADDR_NONE: no reverse lookup";

    fake.hostName = "a.b.c.d.e";
    fake.inetAddrCalls = 0;
    EXPECT_EQ(Report(), 0);
    EXPECT_EQ(fake.inetAddrCalls, 0) << "four dots: not converted";
}

TEST_F(HostLookup, FailedHostNameGives8)
{
    Entry forward({192, 168, 1, 20});
    fake.forward = &forward.entry;
    fake.hostNameFails = true;
    EXPECT_EQ(Report(), 8);
    EXPECT_STREQ(address, "");
    EXPECT_EQ(fake.byNameCalls, 0) << "an empty name is not looked up";
}

TEST_F(HostLookup, SocketsThatWillNotStartGive8)
{
    Entry forward({192, 168, 1, 20});
    fake.forward = &forward.entry;
    fake.startupError = WSASYSNOTREADY;
    EXPECT_EQ(Report(), 8) << "WSAStartup fails";
    EXPECT_STREQ(address, "");

    fake.startupError = 0;
    fake.grant = 0x0001;
    EXPECT_EQ(Report(), 8) << "version 1.0 granted (then cleaned up)";
    EXPECT_GT(fake.cleanups, 0);
    fake.grant = 0x0202;
    EXPECT_EQ(Report(), 8) << "version 2.2 granted: not exactly 1.1";
    EXPECT_STREQ(address, "");
}

TEST_F(HostLookup, MissingEntryPointFailsItsStep)
{
    Entry forward({192, 168, 1, 20});
    fake.forward = &forward.entry;
    for (const char* name : {"gethostname", "gethostbyname", "ntohl", "WSAStartup", "WSACleanup"}) {
        fake.missing = {name};
        EXPECT_EQ(Report(), 8) << name << " missing";
        EXPECT_STREQ(address, "") << name << " missing";
    }
    fake.hostName = "10.1.2.3";
    fake.missing = {"inet_addr"};
    EXPECT_EQ(Report(), 8) << "inet_addr missing for a dotted name";
}
