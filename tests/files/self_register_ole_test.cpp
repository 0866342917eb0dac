// The process-wide OLE-initialised flag of SelfRegisterFile, from a fresh
// process (the flag is set once and never cleared, so these steps run in
// their own program and in this order). A thread that has joined the
// multithreaded apartment makes OleInitialize fail, which is how a failed
// initialisation is produced for real.
#include "tests/common/test_support.h"
#include "tests/files/files_test_support.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <functional>

using namespace setupsup_test;
using namespace files_test;

namespace {

using SelfRegisterFileFn = int(WINAPI*)(const char*);

constexpr char kTypesKey[] = "TypeLib\\{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E01}";
constexpr char kMarkKey[] = "Software\\SetupSupTest\\SelfRegister";

struct ThreadCall {
    bool multithreaded;
    std::string path;
    HRESULT coInit = E_UNEXPECTED;
    int result = -1;
};

DWORD WINAPI CallOnThread(void* param)
{
    auto* call = static_cast<ThreadCall*>(param);
    if (call->multithreaded)
        call->coInit = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    call->result = Export<SelfRegisterFileFn>("SelfRegisterFile")(call->path.c_str());
    if (call->multithreaded && SUCCEEDED(call->coInit))
        ::CoUninitialize();
    return 0;
}

// SelfRegisterFile(path) on a new thread, in the multithreaded apartment or
// with COM not initialised at all.
int SelfRegisterOnThread(const std::string& path, bool multithreaded)
{
    ThreadCall call{multithreaded, path};
    HANDLE thread = ::CreateThread(nullptr, 0, CallOnThread, &call, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    if (!thread)
        return -1;
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    if (multithreaded) {
        EXPECT_EQ(call.coInit, S_OK) << "the thread must join the multithreaded apartment";
    }
    return call.result;
}

bool Marked() { return !ReadString(HKEY_CURRENT_USER, kMarkKey, "Registered").empty(); }

bool TypesRegistered()
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kTypesKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

void Forget()
{
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kTypesKey);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kMarkKey);
}

} // namespace

TEST(SelfRegisterFileOle, FailedInitialisationIsRetriedAndSuccessIsKept)
{
    ScratchDir scratch;
    std::string tlb = scratch.File("types.tlb");
    ASSERT_TRUE(CopyTo(ProgramFile("selfreg_types.tlb"), tlb));
    std::string module = ProgramFile("selfreg_ok.dll");
    Forget();

    // First calls, from the multithreaded apartment: OleInitialize fails and
    // neither file is touched.
    EXPECT_EQ(SelfRegisterOnThread(tlb, true), 95) << "type library, OLE initialisation failed";
    EXPECT_EQ(SelfRegisterOnThread(module, true), 95) << "module, OLE initialisation failed again";
    EXPECT_FALSE(TypesRegistered()) << "the type library must not be registered after 95";
    EXPECT_FALSE(Marked()) << "DllRegisterServer must not run after 95";

    // A thread without COM: the flag was left clear, so this call tries again and succeeds.
    EXPECT_EQ(SelfRegisterOnThread(tlb, false), 0) << "the retried initialisation succeeds";
    EXPECT_TRUE(TypesRegistered());

    // From now on OleInitialize is not called, so the multithreaded apartment no longer fails.
    Forget();
    EXPECT_EQ(SelfRegisterOnThread(module, true), 0) << "module, OLE already initialised by this process";
    EXPECT_TRUE(Marked());
    EXPECT_EQ(SelfRegisterOnThread(tlb, true), 0) << "type library, OLE already initialised by this process";
    EXPECT_TRUE(TypesRegistered());
    Forget();
}
