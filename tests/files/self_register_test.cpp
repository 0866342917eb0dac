// SelfRegisterFile with real components: type libraries made by widl and
// registered under HKCR\TypeLib, and COM server modules built by this
// project. The OLE-initialised flag's first-call behaviour is tested in
// self_register_ole_test, which starts with the flag clear.
#include "tests/common/test_support.h"
#include "tests/files/files_test_support.h"

#include <gtest/gtest.h>

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
