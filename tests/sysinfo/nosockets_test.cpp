// GetHostIPAddr where "wsock32.dll" cannot be loaded (run with
// WINEDLLOVERRIDES=wsock32=d): 22 with the empty string, and the decision
// stands for every later call.
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

using namespace setupsup_test;

using GetHostIPAddrFn = int(WINAPI*)(char*);

TEST(GetHostIPAddr, UnavailableSocketsGive22OnEveryCall)
{
    ASSERT_EQ(::LoadLibraryA("wsock32.dll"), nullptr) << "this test needs wsock32.dll disabled";
    ASSERT_NE(Dll(), nullptr) << "setupsup.dll loads without wsock32.dll: it never imports it";
    auto getHostIPAddr = Export<GetHostIPAddrFn>("GetHostIPAddr");
    ASSERT_NE(getHostIPAddr, nullptr);
    for (int call = 0; call < 3; ++call) {
        char address[16] = "stale";
        EXPECT_EQ(getHostIPAddr(address), 22) << "call " << call << ": sockets unavailable";
        EXPECT_STREQ(address, "") << "call " << call << ": the buffer holds the empty string";
    }
}
