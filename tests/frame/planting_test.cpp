// No planted DLL is ever loaded. An installer usually runs from a Downloads
// folder beside whatever else was downloaded there; for a DLL that is not a
// known DLL, Windows looks first beside the program. Stand-ins that leave a
// mark when loaded are copied, as every DLL the library or setupsup-call
// loads at run time, beside a caller and into its current folder, with Wine
// told to prefer a DLL found there as Windows does (by default Wine loads its
// own for a system DLL's name, so a planted one would never show). The run
// sets WINEDLLOVERRIDES for that: Wine takes it from the environment a Wine
// process starts with, not from one a parent changes with
// SetEnvironmentVariable, so this program cannot set it for its children. Every
// export that loads something is called through a small caller and through
// setupsup-call; no mark appears, and every result equals an unplanted run.
//
// version.dll is not planted: Wine's own user32.dll imports it by name, so
// under such an override a stand-in would be loaded at the start of any
// program (Windows' user32 imports no version.dll). The import-table check
// holds it instead (the DLL may import only known DLLs). Likewise wsock32's
// own imports (ws2_32.dll, iphlpapi.dll) are not planted.
#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace setupsup_test;

namespace {

// The DLLs the library and setupsup-call load at run time, and the private
// DLL of the COM server that is registered.
constexpr const char* kPlantedNames[] = {"wsock32.dll", "psapi.dll", "rstrtmgr.dll", "selfreg_private.dll"};
constexpr char kPreferPlanted[] = "wsock32,psapi,rstrtmgr=n,b";

// The run must have told Wine to prefer planted DLLs, or nothing planted
// could ever be loaded and the test would prove nothing.
class PlantedDllsPreferred : public ::testing::Environment {
public:
    void SetUp() override
    {
        char value[1024] = {};
        ::GetEnvironmentVariableA("WINEDLLOVERRIDES", value, sizeof value);
        if (std::string(value).find(kPreferPlanted) == std::string::npos) {
            std::fprintf(stderr, "WINEDLLOVERRIDES must name %s (it is \"%s\")\n", kPreferPlanted, value);
            std::exit(1);
        }
    }
};
const auto* const g_preferred = ::testing::AddGlobalTestEnvironment(new PlantedDllsPreferred);

bool CopyProgramFile(const std::string& name, const std::string& to)
{
    return ::CopyFileA(ProgramFile(name).c_str(), to.c_str(), FALSE) != FALSE;
}

// text without the carriage returns of the programs' text-mode output.
std::string Lines(std::string text)
{
    std::erase(text, '\r');
    return text;
}

// The marks the stand-ins left in folder.
std::vector<std::string> MarksIn(const std::string& folder)
{
    std::vector<std::string> marks;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*.mark").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return marks;
    do
        marks.push_back(found.cFileName);
    while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return marks;
}

// A caller's folder: the caller, setupsup.dll and setupsup-call.exe, and, when
// planted, the stand-ins beside them and in the folder the programs run in.
class Installer {
public:
    explicit Installer(bool planted)
    {
        for (const char* name : {"planting_caller.exe", "setupsup.dll", "setupsup-call.exe"})
            EXPECT_TRUE(CopyProgramFile(name, folder_.File(name))) << name;
        if (!planted)
            return;
        for (const char* name : kPlantedNames) {
            EXPECT_TRUE(CopyProgramFile("planted_standin.dll", folder_.File(name))) << name;
            EXPECT_TRUE(CopyProgramFile("planted_standin.dll", current_.File(name))) << name;
        }
    }

    // Every line the caller and setupsup-call print for the calls, in order.
    std::string Run(const std::string& server) const
    {
        std::string all, out;
        const std::string caller = "\"" + folder_.File("planting_caller.exe") + "\" \"" + server + "\"";
        EXPECT_EQ(RunProgram(caller, current_.path(), &out), 0u) << caller;
        all += Lines(out);
        const std::string run = "\"" + folder_.File("setupsup-call.exe") + "\" ";
        for (const std::string& call :
             {std::string("GetHostIPAddr"), std::string("IsZORBAppRunning setupsup-call.exe"),
              "GetFileLanguage \"" + folder_.File("setupsup.dll") + "\"",
              "FindFileUsers \"" + folder_.File("setupsup.dll") + "\" 0", "SelfRegisterFile \"" + server + "\""}) {
            EXPECT_EQ(RunProgram(run + call, current_.path(), &out), 0u) << call;
            all += "setupsup-call " + call.substr(0, call.find(' ')) + ": " + Lines(out);
        }
        return all;
    }

    std::vector<std::string> Marks() const
    {
        std::vector<std::string> marks = MarksIn(folder_.path());
        for (const std::string& mark : MarksIn(current_.path()))
            marks.push_back("current folder: " + mark);
        return marks;
    }

    const ScratchDir& folder() const { return folder_; }

private:
    ScratchDir folder_, current_;
};

} // namespace

// The mark is what the test looks for: a stand-in loaded by its path leaves
// one (under a name Wine has no DLL of its own for).
TEST(Planting, AStandInLeavesItsMarkWhenLoaded)
{
    ScratchDir dir;
    const std::string standIn = dir.File("standin.dll");
    ASSERT_TRUE(CopyProgramFile("planted_standin.dll", standIn));
    HMODULE loaded = ::LoadLibraryA(standIn.c_str());
    ASSERT_NE(loaded, nullptr);
    ::FreeLibrary(loaded);
    EXPECT_EQ(MarksIn(dir.path()), std::vector<std::string>{"standin.dll.mark"});
}

TEST(Planting, NothingBesideTheCallerOrInItsCurrentFolderIsLoaded)
{
    // A COM server whose private DLL lies beside it, in the application's
    // folder, as an installer leaves them.
    ScratchDir application;
    for (const char* name : {"selfreg_needs_private.dll", "selfreg_private.dll"})
        ASSERT_TRUE(CopyProgramFile(std::string("private\\") + name, application.File(name))) << name;
    const std::string server = application.File("selfreg_needs_private.dll");

    Installer clean(false), planted(true);
    const std::string expected = clean.Run(server);
    EXPECT_NE(expected.find("SelfRegisterFile 0\n"), std::string::npos)
        << "the server registers, its private DLL found beside it:\n"
        << expected;
    EXPECT_NE(expected.find("IsZORBAppRunning 1\n"), std::string::npos) << expected;
    EXPECT_NE(expected.find("GetHostIPAddr 0 "), std::string::npos) << expected;
    EXPECT_NE(expected.find("GetFileLanguage 0 9 4 ENGLISH\n"), std::string::npos) << expected;
    EXPECT_NE(expected.find("FindFileUsers 0\n"), std::string::npos) << "only the caller uses its DLL:\n" << expected;

    EXPECT_EQ(planted.Run(server), expected) << "every result as in the unplanted run";
    EXPECT_EQ(planted.Marks(), std::vector<std::string>{}) << "no stand-in was loaded";
    EXPECT_EQ(clean.Marks(), std::vector<std::string>{});
}
