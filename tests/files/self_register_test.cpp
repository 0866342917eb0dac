// SelfRegisterFile with real components: type libraries made by widl and
// registered under HKCR\TypeLib, and COM server modules built by this
// project. The OLE-initialised flag's first-call behaviour is tested in
// self_register_ole_test, which starts with the flag clear.
#include "tests/common/test_support.h"
#include "tests/files/files_test_support.h"

#include "tests/common/export_forms.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include <thread>

using namespace setupsup_test;
using namespace files_test;

namespace {

using SelfRegisterFileFn = int(WINAPI*)(const char*);

int SelfRegister(const std::string& path) { return Export<SelfRegisterFileFn>("SelfRegisterFile")(path.c_str()); }

// The identities of the two test type libraries (fixtures/*.idl).
constexpr char kTypesKey[] = "TypeLib\\{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E01}";
constexpr wchar_t kTypesPathKey[] = L"TypeLib\\{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E01}\\1.0\\0\\win32";
constexpr char kLockedKey[] = "TypeLib\\{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E02}";

constexpr char kMarkKey[] = "Software\\SetupSupTest\\SelfRegister";

void ForgetRegistrations()
{
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kTypesKey);
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kLockedKey);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kMarkKey);
}

// The path the test type library is registered under, or "" when it is not.
std::wstring RegisteredTypesPath() { return ReadStringW(HKEY_CLASSES_ROOT, kTypesPathKey, nullptr); }

// The module name the last DllRegisterServer of a test server recorded.
std::string Mark() { return ReadString(HKEY_CURRENT_USER, kMarkKey, "Registered"); }

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

class SelfRegisterFileTest : public ::testing::Test {
protected:
    void SetUp() override { ForgetRegistrations(); }
    void TearDown() override { ForgetRegistrations(); }
    ScratchDir scratch;
};

} // namespace

TEST_F(SelfRegisterFileTest, TakesTheTypeLibraryPathForNamesEndingInTlb)
{
    for (const char* name : {"types.TLB", "Types.Tlb", "typestlb"}) {
        std::string path = scratch.File(name);
        ASSERT_TRUE(CopyTo(ProgramFile("selfreg_types.tlb"), path));
        ForgetRegistrations();
        EXPECT_EQ(SelfRegister(path), 0) << name << " must be registered as a type library";
        EXPECT_EQ(RegisteredTypesPath(), Widen(path)) << name << " must be registered under its own path";
    }
}

TEST_F(SelfRegisterFileTest, TakesTheModulePathForOtherNames)
{
    // A type library under these names is loaded as a module, which it is not.
    std::string tlbx = scratch.File("types.tlbx");
    ASSERT_TRUE(CopyTo(ProgramFile("selfreg_types.tlb"), tlbx));
    EXPECT_EQ(SelfRegister(tlbx), 99) << "types.tlbx goes the module path";

    // Exactly three bytes: the module path, where LoadLibraryA looks for "tlb.dll".
    char previous[MAX_PATH];
    ASSERT_GT(::GetCurrentDirectoryA(sizeof previous, previous), 0u);
    ASSERT_TRUE(CopyTo(ProgramFile("selfreg_types.tlb"), scratch.File("tlb")));
    ASSERT_TRUE(::SetCurrentDirectoryA(scratch.path().c_str()));
    EXPECT_EQ(SelfRegister("tlb"), 99) << "\"tlb\" goes the module path";
    ::SetCurrentDirectoryA(previous);

    EXPECT_EQ(RegisteredTypesPath(), L"") << "neither name may register the type library";
}

TEST_F(SelfRegisterFileTest, WidensTypeLibraryPathsByteForByte)
{
    // Byte 0x80 must arrive as U+0080; through code page 1252 it would be U+20AC.
    std::wstring widePath = Widen(scratch.path()) + L"\\types\u0080\u00ff.tlb";
    ASSERT_TRUE(::CopyFileW(Widen(ProgramFile("selfreg_types.tlb")).c_str(), widePath.c_str(), FALSE));
    std::string bytePath = scratch.path() + "\\types\x80\xff.tlb";
    EXPECT_EQ(SelfRegister(bytePath), 0) << "the file named with U+0080 U+00FF must be loaded";
    EXPECT_EQ(RegisteredTypesPath(), widePath) << "registered under the byte-for-byte widened path";
}

TEST_F(SelfRegisterFileTest, RefusesTypeLibraryPathsOf256BytesOrMore)
{
    // 255 bytes and the NUL fill the 256-unit buffer exactly; one more byte does not fit.
    std::string prefix = scratch.path() + "\\";
    ASSERT_LT(prefix.size() + 4, 255u);
    std::string fits = prefix + std::string(255 - prefix.size() - 4, 'f') + ".tlb";
    std::string tooLong = prefix + std::string(256 - prefix.size() - 4, 'g') + ".tlb";
    ASSERT_EQ(fits.size(), 255u);
    ASSERT_EQ(tooLong.size(), 256u);
    ASSERT_TRUE(CopyTo(ProgramFile("selfreg_types.tlb"), fits));
    ASSERT_TRUE(CopyTo(ProgramFile("selfreg_types.tlb"), tooLong));

    EXPECT_EQ(SelfRegister(tooLong), 97) << "a 256-byte path must be refused";
    EXPECT_EQ(RegisteredTypesPath(), L"");
    EXPECT_EQ(SelfRegister(fits), 0) << "a 255-byte path must be registered";
    EXPECT_EQ(RegisteredTypesPath(), Widen(fits));
}

TEST_F(SelfRegisterFileTest, Returns97WhenTheTypeLibraryCannotBeLoaded)
{
    EXPECT_EQ(SelfRegister(scratch.File("missing.tlb")), 97) << "a missing file";
    std::string junk = scratch.File("junk.tlb");
    WriteFileBytes(junk, {'n', 'o', 't', ' ', 'a', ' ', 't', 'y', 'p', 'e', ' ', 'l', 'i', 'b'});
    EXPECT_EQ(SelfRegister(junk), 97) << "a file that is no type library";
}

TEST_F(SelfRegisterFileTest, Returns96WhenTheRegistryRefusesTheRegistration)
{
    std::string path = scratch.File("locked.tlb");
    ASSERT_TRUE(CopyTo(ProgramFile("selfreg_locked.tlb"), path));
    {
        // Everyone may read HKCR\TypeLib, nobody may create keys under it.
        KeyDaclOverride readOnly(HKEY_CLASSES_ROOT, "TypeLib", "D:(A;;KR;;;WD)");
        ASSERT_TRUE(readOnly.applied()) << "the read-only DACL must be set on HKCR\\TypeLib";
        EXPECT_EQ(SelfRegister(path), 96) << "loaded but not registered";
    }
    EXPECT_EQ(SelfRegister(path), 0) << "with the DACL restored the same file registers";
}

TEST_F(SelfRegisterFileTest, CallsTheModulesDllRegisterServerAndUnloadsIt)
{
    struct Case {
        const char* module;
        int expected;
        const char* mark;
    };
    const Case cases[] = {
        {"selfreg_ok.dll", 0, "selfreg_ok"},
        {"selfreg_fail.dll", static_cast<int>(0x80040201), "selfreg_fail"},
        {"selfreg_noentry.dll", 98, ""},
        // Loaded as regsvr32 loads it: the private DLL it imports is found
        // in its own folder, not beside this program (where there is none).
        {"private\\selfreg_needs_private.dll", 0, "selfreg_needs_private"},
    };
    for (const Case& c : cases) {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kMarkKey);
        std::string path = ProgramFile(c.module);
        ASSERT_EQ(::GetModuleHandleA(path.c_str()), nullptr) << c.module << " loaded before the call";
        EXPECT_EQ(SelfRegister(path), c.expected) << c.module;
        EXPECT_EQ(Mark(), c.mark) << c.module << ": the mark its DllRegisterServer leaves";
        EXPECT_EQ(::GetModuleHandleA(path.c_str()), nullptr) << c.module << " must be unloaded after the call";
    }
    EXPECT_LT(SelfRegister(ProgramFile("selfreg_fail.dll")), 0) << "failure HRESULTs arrive negative";
}

TEST_F(SelfRegisterFileTest, Returns99WhenTheFileIsNoModule)
{
    std::string text = scratch.File("notamodule.dll");
    WriteFileBytes(text, {'M', 'Z', ' ', 'b', 'u', 't', ' ', 'n', 'o', ' ', 'P', 'E'});
    EXPECT_EQ(SelfRegister(text), 99) << "a file that is not a module";
    EXPECT_EQ(::GetModuleHandleA(text.c_str()), nullptr);
    EXPECT_EQ(SelfRegister(scratch.File("missing.dll")), 99) << "a missing file";
    EXPECT_EQ(Export<SelfRegisterFileFn>("SelfRegisterFile")(nullptr), 99) << "no path at all";
}

// ---- Unregistering, and the per-user forms ---------------------------------

namespace {

constexpr char kTypesGuid[] = "{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E01}";
constexpr GUID kTypesId = {0x6f1c3e52, 0x2a4b, 0x4c1d, {0x9e, 0x11, 0x5a, 0x0b, 0x1c, 0x2d, 0x3e, 0x01}};
constexpr char kServerClsid[] = "{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E11}"; // selfreg_ok's class
constexpr CLSID kServerId = {0x6f1c3e52, 0x2a4b, 0x4c1d, {0x9e, 0x11, 0x5a, 0x0b, 0x1c, 0x2d, 0x3e, 0x11}};
constexpr char kServerProgId[] = "SetupSupTest.selfreg_ok";
constexpr char kClasses[] = "Software\\Classes\\"; // under HKLM or HKCU

enum class Scope { kMachine, kUser };

// The keys a registration writes, as paths under a classes root.
std::string TypesVersionKey() { return std::string("TypeLib\\") + kTypesGuid + "\\1.0"; }
std::string ServerKey() { return std::string("CLSID\\") + kServerClsid; }

// Whether path exists under the machine's classes in the caller's own view
// (for a 32-bit caller under WoW64 that is Wow6432Node, where Wine puts its
// registrations, as Windows does), or under the user's classes outside
// Wow6432Node (a 32-bit caller's per-user keys are not redirected).
bool Has(Scope scope, const std::string& path)
{
    const bool machine = scope == Scope::kMachine;
    const REGSAM view = !RunsUnderWow64() ? 0 : machine ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    HKEY key;
    if (::RegOpenKeyExA(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, (kClasses + path).c_str(), 0, KEY_READ | view,
                        &key) != 0)
        return false;
    ::RegCloseKey(key);
    return true;
}
bool MachineHas(const std::string& path) { return Has(Scope::kMachine, path); }
bool UserHas(const std::string& path) { return Has(Scope::kUser, path); }

// The machine's classes as far as the tests can change them: the subkey
// counts of CLSID and TypeLib and the test's own keys, in both views.
std::string MachineClasses()
{
    std::string state;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        for (const char* path : {"Software\\Classes\\CLSID", "Software\\Classes\\TypeLib"}) {
            HKEY key;
            DWORD subkeys = 0;
            if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &key) == 0) {
                ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
                ::RegCloseKey(key);
            }
            state += std::to_string(subkeys) + " ";
        }
    }
    for (const std::string& path : {TypesVersionKey(), ServerKey(), std::string(kServerProgId)})
        state += MachineHas(path) ? "1" : "0";
    return state;
}

void ForgetAllRegistrations()
{
    ForgetRegistrations();
    for (const std::string& path : {std::string("TypeLib\\") + kTypesGuid, ServerKey(), std::string(kServerProgId)}) {
        ::RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
        ::RegDeleteTreeA(HKEY_CURRENT_USER, (kClasses + path).c_str());
    }
}

bool UnderWine() { return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// Runs call with HKEY_CLASSES_ROOT redirected to the user's classes on this
// thread's process, as the library does, for the reads Wine's classes view
// does not show.
template <typename Call>
auto WithUserClasses(Call call)
{
    HKEY classes = nullptr;
    EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, KEY_ALL_ACCESS, &classes), 0);
    EXPECT_EQ(::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes), 0);
    auto result = call();
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    ::RegCloseKey(classes);
    return result;
}

HRESULT CreateServerObject()
{
    IUnknown* object = nullptr;
    HRESULT hr =
        ::CoCreateInstance(kServerId, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (object)
        object->Release();
    ::CoFreeUnusedLibrariesEx(0, 0); // the module unloaded again, as the other tests expect
    return hr;
}

HRESULT LoadRegisteredTypes()
{
    ITypeLib* types = nullptr;
    HRESULT hr = ::LoadRegTypeLib(kTypesId, 1, 0, 0, &types);
    if (types)
        types->Release();
    return hr;
}

// The four exports in one form: direction x scope.
template <typename Char>
struct RegistrationForm : ExportForm<Char> {
    using Fn = int(WINAPI*)(const Char*);
    Fn Entry(bool registering, Scope scope) const
    {
        const char* name = registering ? (scope == Scope::kUser ? "SelfRegisterFileForUser" : "SelfRegisterFile")
                                       : (scope == Scope::kUser ? "SelfUnregisterFileForUser" : "SelfUnregisterFile");
        return this->template Get<Fn>(name);
    }
    int Call(bool registering, Scope scope, const std::string& path) const
    {
        return Entry(registering, scope)(this->Of(path).c_str());
    }
};

class SelfRegistrationScopesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForgetAllRegistrations();
        ::CoInitialize(nullptr);
    }
    void TearDown() override
    {
        ::CoUninitialize();
        ForgetAllRegistrations();
    }
    ScratchDir scratch;
};

} // namespace

TEST_F(SelfRegistrationScopesTest, RegistersAndUnregistersTheTypeLibraryAndTheServerForTheMachineOrTheUser)
{
    const std::string tlb = ProgramFile("selfreg_types.tlb"), server = ProgramFile("selfreg_ok.dll");
    // A machine key that HKCR and HKLM must show again once a per-user call returned.
    const std::string probe = "Software\\Classes\\SetupSupTest.Probe";
    HKEY probeKey;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, probe.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &probeKey,
                                nullptr),
              0);
    ::RegCloseKey(probeKey);
    ForEachForm<RegistrationForm>([&](auto form) {
        for (Scope scope : {Scope::kMachine, Scope::kUser}) {
            SCOPED_TRACE(scope == Scope::kUser ? "for the user" : "for the machine");
            const Scope other = scope == Scope::kUser ? Scope::kMachine : Scope::kUser;
            const std::string machineBefore = MachineClasses();

            EXPECT_EQ(form.Call(true, scope, tlb), 0);
            EXPECT_EQ(form.Call(true, scope, server), 0);
            EXPECT_TRUE(Has(scope, TypesVersionKey() + "\\0\\win32")) << "the type library's key";
            EXPECT_EQ(ReadString(scope == Scope::kUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT,
                                 ((scope == Scope::kUser ? kClasses : "") + ServerKey() + "\\InprocServer32").c_str(),
                                 nullptr),
                      server)
                << "the server's class, written through HKEY_CLASSES_ROOT";
            EXPECT_TRUE(Has(scope, std::string(kServerProgId) + "\\CLSID"))
                << "the ProgID, written through HKEY_LOCAL_MACHINE\\Software\\Classes";
            EXPECT_FALSE(Has(other, TypesVersionKey()) || Has(other, ServerKey()) || Has(other, kServerProgId));
            if (scope == Scope::kMachine) {
                EXPECT_EQ(CreateServerObject(), S_OK) << "the machine's class is created";
                EXPECT_EQ(LoadRegisteredTypes(), S_OK);
            } else {
                EXPECT_EQ(MachineClasses(), machineBefore) << "nothing may reach HKLM";
                EXPECT_TRUE(MachineHas("SetupSupTest.Probe")) << "HKLM must be the machine's again";
                HKEY key;
                EXPECT_EQ(::RegOpenKeyExA(HKEY_CLASSES_ROOT, "SetupSupTest.Probe", 0, KEY_READ, &key), 0)
                    << "HKCR must be the machine's again";
                ::RegCloseKey(key);
                // Windows' merged classes view finds the user's class and type
                // library through HKCR; Wine's HKCR shows only the machine's,
                // so the class is not found there and the type library is
                // found only with HKCR redirected to the user's classes.
                EXPECT_EQ(CreateServerObject(), UnderWine() ? REGDB_E_CLASSNOTREG : S_OK);
                EXPECT_EQ(WithUserClasses(LoadRegisteredTypes), S_OK) << "the user's type library loads back";
            }

            ::RegDeleteTreeA(HKEY_CURRENT_USER, kMarkKey);
            EXPECT_EQ(form.Call(false, scope, tlb), 0);
            EXPECT_EQ(form.Call(false, scope, server), 0);
            EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kMarkKey, "Unregistered"), "selfreg_ok");
            EXPECT_FALSE(Has(scope, TypesVersionKey()) || Has(scope, ServerKey()) || Has(scope, kServerProgId))
                << "unregistering removes all three";
            if (scope == Scope::kMachine) {
                EXPECT_EQ(CreateServerObject(), REGDB_E_CLASSNOTREG);
            }
            EXPECT_EQ(form.Call(false, scope, tlb), 0) << "a type library not registered is no failure";
            EXPECT_EQ(form.Call(false, scope, server), 0) << "a server not registered is no failure";
            EXPECT_EQ(MachineClasses(), machineBefore);
        }
    });
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, probe.c_str());
}

TEST_F(SelfRegistrationScopesTest, UnregisteringAndPerUserCallsFailAsRegisteringDoes)
{
    std::string junk = scratch.File("junk.dll");
    WriteFileBytes(junk, {'n', 'o', ' ', 'm', 'o', 'd', 'u', 'l', 'e'});
    std::string junkTlb = scratch.File("junk.tlb");
    WriteFileBytes(junkTlb, {'n', 'o', ' ', 't', 'l', 'b'});
    ForEachForm<RegistrationForm>([&](auto form) {
        for (Scope scope : {Scope::kMachine, Scope::kUser}) {
            SCOPED_TRACE(scope == Scope::kUser ? "for the user" : "for the machine");
            for (bool registering : {true, false}) {
                SCOPED_TRACE(registering ? "registering" : "unregistering");
                EXPECT_EQ(form.Call(registering, scope, ProgramFile("selfreg_noentry.dll")), registering ? 98 : 94);
                EXPECT_EQ(form.Call(registering, scope, ProgramFile("selfreg_fail.dll")), static_cast<int>(0x80040201))
                    << "the server's own failure";
                EXPECT_EQ(form.Call(registering, scope, junk), 99) << "neither module nor type library";
                EXPECT_EQ(form.Call(registering, scope, junkTlb), 97) << "no type library";
                EXPECT_EQ(form.Call(registering, scope, ""), 99) << "an empty path";
                EXPECT_EQ(form.Entry(registering, scope)(nullptr), 99) << "no path";
            }
        }
    });
}

TEST_F(SelfRegistrationScopesTest, PerUserCallsOfTwoThreadsEachEndRegisteredForTheUser)
{
    const std::string machineBefore = MachineClasses();
    auto registerForUser = Export<SelfRegisterFileFn>("SelfRegisterFileForUser");
    auto run = [registerForUser](std::string path) {
        int failures = 0;
        for (int i = 0; i < 40; ++i)
            failures += registerForUser(path.c_str()) != 0;
        return failures;
    };
    int typesFailures = 0, serverFailures = 0;
    std::thread types([&] { typesFailures = run(ProgramFile("selfreg_types.tlb")); });
    std::thread server([&] { serverFailures = run(ProgramFile("selfreg_ok.dll")); });
    types.join();
    server.join();
    EXPECT_EQ(typesFailures + serverFailures, 0);
    EXPECT_TRUE(UserHas(TypesVersionKey()) && UserHas(ServerKey()) && UserHas(kServerProgId));
    EXPECT_EQ(MachineClasses(), machineBefore) << "no call may have written the machine's classes";
}
