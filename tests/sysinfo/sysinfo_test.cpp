// System information: memory sizes against GlobalMemoryStatusEx, the short
// date against the text of a picture the test sets, the Terminal Server test
// against product suite lists written into the prefix's HKLM, and the host
// address against the host's interface addresses.
#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <iphlpapi.h>
#include <winsock2.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace setupsup_test;

using IntFn = int(WINAPI*)();
using FormatDateFn = int(WINAPI*)(int, int, int, char*);
using GetHostIPAddrFn = int(WINAPI*)(char*);

// Checked through GlobalMemoryStatusEx, not the call the library makes: the
// older call reports the physical size clamped to 2 GiB - 1 for a 32-bit
// program that is not large-address-aware (this one), the virtual size as it
// is. The 64-bit DLL clamps both to the same 2 GiB - 1, so that no installer
// reading a signed 32-bit result sees it wrap: its virtual space alone is
// terabytes. On a host with more than 2 GiB free, total and free physical
// memory both read as the clamp, so only the 32-bit virtual size tells total
// from free there.
TEST(GetPhysRAM, MatchesTheExtendedMemoryStatus)
{
    auto getPhysRAM = Export<IntFn>("GetPhysRAM");
    auto getVirtRAM = Export<IntFn>("GetVirtRAM");
    ASSERT_NE(getPhysRAM, nullptr);
    ASSERT_NE(getVirtRAM, nullptr);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    ASSERT_TRUE(::GlobalMemoryStatusEx(&status));
    const DWORDLONG kClamp = 0x7FFFFFFF;
    EXPECT_EQ(static_cast<DWORDLONG>(static_cast<DWORD>(getPhysRAM())), std::min(status.ullTotalPhys, kClamp));
    EXPECT_EQ(static_cast<DWORDLONG>(static_cast<DWORD>(getVirtRAM())),
              sizeof(void*) == 8 ? kClamp : status.ullTotalVirtual);
}

// The test sets the user's short date picture itself, so the text is fixed
// by the picture, not by the system's locale data. The build runs this case
// again under en_GB (user locale 0x0809): there only a call for the user's
// locale follows the picture, while one for a fixed locale such as en-US
// (0x0409, the C locale's, where the first run cannot tell them apart) gives
// "12/31/2001".
TEST(FormatDate, WritesTheUsersShortDatePicture)
{
    auto formatDate = Export<FormatDateFn>("FormatDate");
    ASSERT_NE(formatDate, nullptr);
    UserShortDate user;
    ASSERT_TRUE(user.Set("yyyy'|'MM'|'dd"));
    const char expected[] = "2001|12|31";
    const int expectedLength = sizeof expected; // the NUL counts

    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(formatDate(2001, 12, 31, buffer), expectedLength);
    EXPECT_STREQ(buffer, expected);

    // Only the low 16 bits of each argument count.
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(formatDate(65536 + 2001, 65536 + 12, 65536 + 31, buffer), expectedLength);
    EXPECT_STREQ(buffer, expected) << "65536 + 2001 formats the year 2001";

    EXPECT_EQ(formatDate(2001, 13, 31, buffer), 0) << "month 13 is no date";
    EXPECT_EQ(formatDate(2001, 2, 30, buffer), 0) << "30 February is no date";
}

// The ProductOptions key as the prefix has it, put back when the test ends.
class ProductOptions : public ::testing::Test {
protected:
    static constexpr const char* kKey = "System\\CurrentControlSet\\Control\\ProductOptions";

    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };

    void SetUp() override
    {
        queryTerminalServer_ = Export<IntFn>("QueryTerminalServer");
        ASSERT_NE(queryTerminalServer_, nullptr);
        HKEY key;
        existed_ = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (!existed_)
            return;
        for (DWORD i = 0;; ++i) {
            char name[256];
            BYTE data[4096];
            DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
            if (::RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
                break;
            saved_.push_back({name, type, std::vector<BYTE>(data, data + dataSize)});
        }
        DWORD subkeys = 0;
        ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr);
        hasSubkeys_ = subkeys != 0;
        ::RegCloseKey(key);
    }

    void TearDown() override
    {
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
        if (!existed_)
            return;
        HKEY key;
        ASSERT_EQ(::RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
        ::RegDeleteValueA(key, "ProductSuite");
        for (const Value& v : saved_)
            ::RegSetValueExA(key, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
        ::RegCloseKey(key);
    }

    void WriteSuite(DWORD type, const void* data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(::RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExA(key, "ProductSuite", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        ::RegCloseKey(key);
    }

    template <size_t N>
    void WriteSuite(DWORD type, const char (&data)[N])
    {
        WriteSuite(type, data, N - 1); // the literal's own NUL is not part of the data
    }

    IntFn queryTerminalServer_ = nullptr;
    bool existed_ = false;
    bool hasSubkeys_ = false;
    std::vector<Value> saved_;
};

TEST_F(ProductOptions, TerminalServerAmongSeveralSuites)
{
    WriteSuite(REG_MULTI_SZ, "Small Business\0Terminal Server\0Enterprise\0\0");
    EXPECT_EQ(queryTerminalServer_(), 1) << "one entry of several";
    WriteSuite(REG_MULTI_SZ, "Terminal Server\0\0");
    EXPECT_EQ(queryTerminalServer_(), 1) << "the only entry";
}

TEST_F(ProductOptions, OnlyTheExactNameCounts)
{
    WriteSuite(REG_MULTI_SZ, "Terminal Server Lite\0\0");
    EXPECT_EQ(queryTerminalServer_(), 0) << "a longer name is no match";
    WriteSuite(REG_MULTI_SZ, "Terminal\0\0");
    EXPECT_EQ(queryTerminalServer_(), 0) << "a prefix is no match";
    WriteSuite(REG_MULTI_SZ, "terminal server\0\0");
    EXPECT_EQ(queryTerminalServer_(), 0) << "case counts";
    WriteSuite(REG_MULTI_SZ, "Enterprise\0\0Terminal Server\0\0");
    EXPECT_EQ(queryTerminalServer_(), 0) << "the list ends at its first empty string";
    WriteSuite(REG_SZ, "Terminal Server\0");
    EXPECT_EQ(queryTerminalServer_(), 0) << "a REG_SZ value has the wrong type";
    WriteSuite(REG_MULTI_SZ, "", 0);
    EXPECT_EQ(queryTerminalServer_(), 0) << "an empty value";
}

TEST_F(ProductOptions, DataWithoutFinalEmptyString)
{
    WriteSuite(REG_MULTI_SZ, "Enterprise\0Terminal Server\0");
    EXPECT_EQ(queryTerminalServer_(), 1) << "last string ends with its NUL, no empty string after it";
    WriteSuite(REG_MULTI_SZ, "Enterprise\0Terminal Server");
    EXPECT_EQ(queryTerminalServer_(), 1) << "last string without its NUL, still exactly the name";
    WriteSuite(REG_MULTI_SZ, "Enterprise\0Terminal");
    EXPECT_EQ(queryTerminalServer_(), 0) << "a cut-off name read only as far as the data goes";
}

// Busy blocks of the process heap, where LocalAlloc takes its blocks.
static int BusyHeapBlocks()
{
    HANDLE heap = ::GetProcessHeap();
    PROCESS_HEAP_ENTRY entry = {};
    int busy = 0;
    ::HeapLock(heap);
    while (::HeapWalk(heap, &entry))
        busy += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
    ::HeapUnlock(heap);
    return busy;
}

TEST_F(ProductOptions, BlockIsFreedOnEveryPath)
{
    const int calls = 50;
    WriteSuite(REG_MULTI_SZ, "Enterprise\0Terminal Server\0\0");
    queryTerminalServer_();
    int before = BusyHeapBlocks();
    for (int i = 0; i < calls; ++i)
        queryTerminalServer_();
    WriteSuite(REG_SZ, "Terminal Server\0");
    for (int i = 0; i < calls; ++i)
        queryTerminalServer_();
    EXPECT_LT(BusyHeapBlocks() - before, calls) << "a block per call left allocated (match or wrong type)";
}

TEST_F(ProductOptions, ValueOrKeyAbsent)
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueA(key, "ProductSuite");
        ::RegCloseKey(key);
    }
    EXPECT_EQ(queryTerminalServer_(), 0) << "no ProductSuite value";
    if (hasSubkeys_)
        GTEST_SKIP() << "ProductOptions has subkeys in this prefix; not removing it";
    ASSERT_EQ(::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
    EXPECT_EQ(queryTerminalServer_(), 0) << "no ProductOptions key";
}

// The first address of the host's own name, as the test resolves it.
// The IPv4 addresses of the host's interfaces, from the IP helper library: a
// route to the host's addresses that does not go through Windows Sockets.
static std::vector<std::string> InterfaceAddresses()
{
    std::vector<std::string> addresses;
    ULONG size = 0;
    ::GetAdaptersInfo(nullptr, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (::GetAdaptersInfo(adapter, &size) != ERROR_SUCCESS)
        return addresses;
    for (; adapter; adapter = adapter->Next)
        for (const IP_ADDR_STRING* ip = &adapter->IpAddressList; ip; ip = ip->Next)
            if (std::strcmp(ip->IpAddress.String, "0.0.0.0") != 0)
                addresses.emplace_back(ip->IpAddress.String);
    return addresses;
}

// The host's own name resolves to its first interface address under Wine,
// to the loopback address when it has none.
TEST(GetHostIPAddr, IsAnAddressOfTheHostsInterfaces)
{
    auto getHostIPAddr = Export<GetHostIPAddrFn>("GetHostIPAddr");
    ASSERT_NE(getHostIPAddr, nullptr);
    std::vector<std::string> expected = InterfaceAddresses();
    if (expected.empty())
        expected.emplace_back("127.0.0.1");
    for (int call = 0; call < 2; ++call) {
        char address[16];
        std::memset(address, 'x', sizeof address);
        EXPECT_EQ(getHostIPAddr(address), 0) << "call " << call;
        EXPECT_NE(std::find(expected.begin(), expected.end(), std::string(address)), expected.end())
            << "call " << call << ": " << address << " is not an address of the host";
    }
    // The library stays loaded once loaded, and the availability check's
    // start of Windows Sockets is left standing.
    EXPECT_NE(::GetModuleHandleA("wsock32.dll"), nullptr) << "wsock32.dll stays loaded";
}
