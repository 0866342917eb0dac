// GetFileRefCount and SetFileRefCount on the prefix's real
// HKLM\...\CurrentVersion\SharedDLLs key. A fresh prefix has no such key:
// the fixture creates it, and moves it away for the key-missing cases.
#include "tests/common/test_support.h"
#include "tests/files/files_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace setupsup_test;
using namespace files_test;

namespace {

using GetFileRefCountFn = int(WINAPI*)(const char*);
using SetFileRefCountFn = int(WINAPI*)(const char*, int);

int GetCount(const char* name) { return Export<GetFileRefCountFn>("GetFileRefCount")(name); }
int SetCount(const char* name, int count) { return Export<SetFileRefCountFn>("SetFileRefCount")(name, count); }

constexpr char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr char kFile[] = "C:\\Program Files\\SetupSupTest\\shared.dll";

bool KeyExists(const char* path)
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

LONG WriteRaw(const char* name, DWORD type, const std::vector<uint8_t>& data)
{
    return ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, type, data.data(),
                             static_cast<DWORD>(data.size()));
}

class SharedDllCountTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HKEY key;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
        ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDllsKey, kFile);
    }
    void TearDown() override { ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDllsKey, kFile); }
};

} // namespace

TEST_F(SharedDllCountTest, SetThenGetReturnsTheCountAsAFourByteDword)
{
    for (int count : {1, 7, 0x12345678, -1, 10001, 0}) {
        ASSERT_EQ(SetCount(kFile, count), 0) << "SetFileRefCount(" << count << ")";
        DWORD type = 0, data = 0xCCCCCCCC, size = sizeof data;
        ASSERT_EQ(::RegGetValueA(HKEY_LOCAL_MACHINE, kSharedDllsKey, kFile, RRF_RT_ANY, &type, &data, &size),
                  ERROR_SUCCESS)
            << "the value must exist after SetFileRefCount(" << count << ")";
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(data, static_cast<DWORD>(count));
        // 10001 reads back unchanged, indistinguishable from "unreadable".
        EXPECT_EQ(GetCount(kFile), count) << "GetFileRefCount after SetFileRefCount(" << count << ")";
    }
}

TEST_F(SharedDllCountTest, GetReturns10001WhenTheValueCannotBeRead)
{
    EXPECT_EQ(GetCount(kFile), 10001) << "no value for the file";
    ASSERT_EQ(WriteRaw(kFile, REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(GetCount(kFile), 10001) << "an 8-byte REG_QWORD";
    ASSERT_EQ(WriteRaw(kFile, REG_BINARY, {2, 0, 0, 0, 0, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(GetCount(kFile), 10001) << "an 8-byte REG_BINARY";
    EXPECT_EQ(GetCount(nullptr), 10001) << "no file name";
    EXPECT_EQ(GetCount(""), 10001) << "an empty file name";
}

TEST_F(SharedDllCountTest, GetIgnoresTheTypeAndZeroExtendsShortValues)
{
    ASSERT_EQ(WriteRaw(kFile, REG_BINARY, {0x78, 0x56, 0x34, 0x12}), ERROR_SUCCESS);
    EXPECT_EQ(GetCount(kFile), 0x12345678) << "4 bytes of REG_BINARY";
    ASSERT_EQ(WriteRaw(kFile, REG_BINARY, {0x34, 0x12}), ERROR_SUCCESS);
    EXPECT_EQ(GetCount(kFile), 0x1234) << "2 bytes fill the low half, the high half is 0";
    ASSERT_EQ(WriteRaw(kFile, REG_BINARY, {0xAB}), ERROR_SUCCESS);
    EXPECT_EQ(GetCount(kFile), 0xAB) << "1 byte fills the low byte, the rest is 0";
    ASSERT_EQ(WriteRaw(kFile, REG_BINARY, {}), ERROR_SUCCESS);
    EXPECT_EQ(GetCount(kFile), 0) << "an empty value reads as 0";
}

TEST_F(SharedDllCountTest, SetRefusesAMissingFileName)
{
    EXPECT_EQ(SetCount(nullptr, 3), ERROR_INVALID_PARAMETER) << "no file name";
    EXPECT_EQ(SetCount("", 3), ERROR_INVALID_PARAMETER) << "an empty file name";
    DWORD type = 0;
    EXPECT_EQ(::RegGetValueA(HKEY_LOCAL_MACHINE, kSharedDllsKey, nullptr, RRF_RT_ANY, &type, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND)
        << "the key's default value must not be written";
}

TEST_F(SharedDllCountTest, KeyMissingGives10002And2AndIsNotCreated)
{
    ASSERT_EQ(SetCount(kFile, 5), 0);
    ASSERT_EQ(::RegRenameKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                             L"SharedDLLs.setupsup-test-away"),
              ERROR_SUCCESS)
        << "moving the key away";
    EXPECT_EQ(GetCount(kFile), 10002) << "GetFileRefCount without the key";
    EXPECT_EQ(SetCount(kFile, 6), ERROR_FILE_NOT_FOUND) << "SetFileRefCount without the key";
    EXPECT_FALSE(KeyExists(kSharedDllsKey)) << "SetFileRefCount must not create the key";

    ASSERT_EQ(
        ::RegRenameKey(HKEY_LOCAL_MACHINE,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs.setupsup-test-away", L"SharedDLLs"),
        ERROR_SUCCESS)
        << "moving the key back";
    EXPECT_EQ(GetCount(kFile), 5) << "the count written before the key was moved";
}

TEST_F(SharedDllCountTest, SetReturnsTheAccessErrorOfAReadOnlyKey)
{
    ASSERT_EQ(SetCount(kFile, 8), 0);
    {
        KeyDaclOverride readOnly(HKEY_LOCAL_MACHINE, kSharedDllsKey, "D:(A;;KR;;;WD)");
        ASSERT_TRUE(readOnly.applied()) << "the read-only DACL must be set on SharedDLLs";
        EXPECT_EQ(SetCount(kFile, 9), ERROR_ACCESS_DENIED) << "full access is refused";
        EXPECT_EQ(GetCount(kFile), 8) << "reading needs no more than KEY_READ";
    }
    EXPECT_EQ(GetCount(kFile), 8) << "the refused write changed nothing";
}

namespace {

// The count stored for kFile under HKLM\keyPath in one registry view, or -1
// without such a value.
long long CountInView(const char* keyPath, REGSAM view)
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return -1;
    DWORD data = 0, size = sizeof data;
    LONG status = ::RegQueryValueExA(key, kFile, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS ? static_cast<long long>(data) : -1;
}

} // namespace

// An installer's counts are those of the components of its own
// architecture: a 32-bit installer's live, under WoW64, in the 32-bit view
// (WOW6432Node); a 64-bit installer's in the 64-bit view. A 32-bit system
// has one view.
TEST_F(SharedDllCountTest, CountLandsInTheCallersView)
{
    const bool wow64 = RunsUnderWow64(), x64 = sizeof(void*) == 8;
    const REGSAM own = x64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY, other = x64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    // The other view gets the key too: the count must not land in the
    // caller's view merely because the other key is missing.
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, nullptr, 0, KEY_ALL_ACCESS | other, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    ::RegDeleteValueA(key, kFile);
    ASSERT_EQ(SetCount(kFile, 5), 0);
    EXPECT_EQ(CountInView(kSharedDllsKey, own), 5);
    EXPECT_EQ(CountInView(kSharedDllsKey, other), wow64 || x64 ? -1 : 5)
        << (wow64 || x64 ? "the other view's SharedDLLs counts the other architecture's components"
                         : "a 32-bit system has one view and ignores the view flags");
    EXPECT_EQ(CountInView("Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", KEY_WOW64_64KEY),
              wow64 ? 5 : -1)
        << (wow64 ? "the 64-bit view shows the count under WOW6432Node"
                  : "only a 32-bit caller on a 64-bit system counts under WOW6432Node");
    ::RegDeleteValueA(key, kFile);
    ::RegCloseKey(key);
}

TEST_F(SharedDllCountTest, CallsLeaveNoKeyOpen)
{
    long before = CountProcessHandles();
    for (int i = 0; i < 50; ++i) {
        SetCount(kFile, i);
        GetCount(kFile);
        GetCount("C:\\no such value.dll");
    }
    EXPECT_EQ(CountProcessHandles(), before) << "every opened key must be closed";
}
