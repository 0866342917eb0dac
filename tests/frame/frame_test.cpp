// The library frame: the DLL loads and unloads cleanly, carries a version
// resource with an English (US) / 1252 translation, and exports every name of
// its export table undecorated.
#include "setupsup.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

using namespace setupsup_test;

TEST(Frame, LoadsAndUnloadsRepeatedly)
{
    for (int i = 0; i < 20; ++i) {
        HMODULE dll = ::LoadLibraryA("setupsup.dll");
        ASSERT_NE(dll, nullptr) << "LoadLibraryA failed with " << ::GetLastError();
        EXPECT_TRUE(::FreeLibrary(dll)) << "FreeLibrary must succeed (the entry point reports success on detach)";
    }
}

TEST(Frame, VersionResourceNamesTheLibrary)
{
    char path[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameA(Dll(), path, sizeof path), 0u);
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u) << "setupsup.dll must carry a version resource";
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    // One version: the resource's numbers are the header's.
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(SETUPSUP_VERSION_MINOR, SETUPSUP_VERSION_MAJOR)));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), SETUPSUP_VERSION_PATCH);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);

    WORD* translation = nullptr;
    ASSERT_TRUE(
        ::VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409) << "English (US)";
    EXPECT_EQ(translation[1], 1252) << "code page 1252";

    auto text = [&](const char* name) {
        std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
        char* value = nullptr;
        UINT valueLength = 0;
        bool found = ::VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &valueLength);
        return found && value ? std::string(value) : std::string("(missing)");
    };
    EXPECT_EQ(text("FileDescription"), sizeof(void*) == 8 ? "Setup-support library (64-bit)" : "Setup-support library")
        << "the two builds share the file name; the description tells them apart";
    EXPECT_EQ(text("CompanyName"), "The setupsup developers");
    EXPECT_NE(text("LegalCopyright").find("The setupsup developers"), std::string::npos);
    EXPECT_EQ(text("FileVersion"), SETUPSUP_VERSION_STRING "." + std::to_string(LOWORD(fixed->dwFileVersionLS)))
        << "four parts, as the fixed version";
    EXPECT_EQ(text("ProductVersion"), text("FileVersion"));
}

// The export table installers rely on, written out here rather than read
// from the .def the build uses, so that a name dropped from or added to the
// table fails the test: every export, and the W twin of every export that
// takes or returns text.
constexpr const char* kExports[] = {
    "MergeCbf",
    "MergeCbfW",
    "PruneCbf",
    "PruneCbfW",
    "TruncateCbf",
    "TruncateCbfW",
    "AddFont",
    "AddFontW",
    "RemoveFont",
    "RemoveFontW",
    "GooseFont",
    "GooseFontW",
    "ShellExecuteSimple",
    "ShellExecuteSimpleW",
    "GetSystemFont",
    "GetSystemFontW",
    "GetSystemFixedFont",
    "GetSystemFixedFontW",
    "GetSystemCharset",
    "GetFontName",
    "GetFontNameW",
    "GetPhysRAM",
    "GetVirtRAM",
    "FormatDate",
    "FormatDateW",
    "QueryTerminalServer",
    "GetHostIPAddr",
    "GetHostIPAddrW",
    "CopyKey",
    "CopyKeyW",
    "UnregisterZORBApps",
    "UnregisterZORBAppsW",
    "SelfRegisterFile",
    "SelfRegisterFileW",
    "SelfUnregisterFile",
    "SelfUnregisterFileW",
    "SelfRegisterFileForUser",
    "SelfRegisterFileForUserW",
    "SelfUnregisterFileForUser",
    "SelfUnregisterFileForUserW",
    "GetFileRefCount",
    "GetFileRefCountW",
    "SetFileRefCount",
    "SetFileRefCountW",
    "UnsplitFile",
    "UnsplitFileW",
    "MatchFileDate",
    "MatchFileDateW",
    "GetFileLanguage",
    "GetFileLanguageW",
    "IsZORBRunning",
    "IsZORBAppRunning",
    "IsZORBAppRunningW",
    "CountProcesses",
    "CountProcessesW",
    "CloseProcesses",
    "CloseProcessesW",
    "TerminateProcesses",
    "TerminateProcessesW",
    "WaitForProcesses",
    "WaitForProcessesW",
    "FindFileUsers",
    "FindFileUsersW",
    "DeleteInUseFile",
    "DeleteInUseFileW",
    "ReplaceInUseFile",
    "ReplaceInUseFileW",
    "IsRebootPending",
    "InstallFont",
    "InstallFontW",
    "UninstallFont",
    "UninstallFontW",
    "AddToPath",
    "AddToPathW",
    "RemoveFromPath",
    "RemoveFromPathW",
    "SetEnvironmentValue",
    "SetEnvironmentValueW",
    "DeleteEnvironmentValue",
    "DeleteEnvironmentValueW",
};

TEST(Frame, ExportsExactlyTheTableUndecorated)
{
    std::vector<std::string> names = ExportedNames(Dll());
    EXPECT_EQ(names.size(), std::size(kExports)) << "the DLL exports exactly the names of the table";
    for (const char* name : kExports) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name << " must be exported by name";
        EXPECT_NE(::GetProcAddress(Dll(), name), nullptr) << name;
    }
    for (const std::string& name : names)
        EXPECT_EQ(name.find('@'), std::string::npos) << name << ": exported names carry no stdcall decoration";
}
