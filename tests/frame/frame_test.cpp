// The library frame: the DLL loads and unloads cleanly, carries a version
// resource with an English (US) / 1252 translation, and exports every name of
// its export table undecorated.
#include "setupsup.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <fstream>
#include <regex>

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
    EXPECT_EQ(text("FileDescription"), "Setup-support library");
    EXPECT_EQ(text("CompanyName"), "The setupsup developers");
    EXPECT_NE(text("LegalCopyright").find("The setupsup developers"), std::string::npos);
    EXPECT_EQ(text("FileVersion"), SETUPSUP_VERSION_STRING "." + std::to_string(LOWORD(fixed->dwFileVersionLS)))
        << "four parts, as the fixed version";
    EXPECT_EQ(text("ProductVersion"), text("FileVersion"));
}

TEST(Frame, ExportsEveryNameOfTheTableUndecorated)
{
    std::ifstream def(SETUPSUP_DEF_FILE);
    ASSERT_TRUE(def) << "cannot read " << SETUPSUP_DEF_FILE;
    std::regex entry(R"(^\s*([A-Za-z0-9_]+)\s*=\s*([A-Za-z0-9_]+)@([0-9]+))");
    std::string line;
    int names = 0;
    while (std::getline(def, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, entry))
            continue;
        ++names;
        EXPECT_NE(::GetProcAddress(Dll(), m[1].str().c_str()), nullptr) << m[1] << " must be exported by name";
        std::string decorated = m[2].str() + "@" + m[3].str();
        EXPECT_EQ(::GetProcAddress(Dll(), decorated.c_str()), nullptr) << decorated << " must not be exported";
    }
    (void)names;
}
