// setupsup-call: its table against the DLL's export table, its parsing and
// refusals (in-process, many cases per Wine start), its report of a real
// call, and the program itself: exit statuses and loading the DLL from its
// own folder only.
#include <windows.h>

#include <gtest/gtest.h>
#include <climits>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/test_support.h"
#include "tools/setupsup-call/runner.h"

using namespace setupsup_call;
using namespace setupsup_test;

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Parse(std::vector<const char*> args, Command* command, std::string* error)
{
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), command, error);
}

// Parses args and calls the export from the DLL; returns what was printed
// to standard output (and to err in *diagnostics when given).
std::string CallInProcess(std::vector<const char*> args, FARPROC entry = nullptr, std::string* diagnostics = nullptr)
{
    Command command;
    std::string error;
    EXPECT_TRUE(Parse(args, &command, &error)) << error;
    if (!command.signature)
        return {};
    if (!entry)
        entry = ::GetProcAddress(Dll(), command.signature->name);
    ScratchDir dir;
    std::FILE* out = std::fopen(dir.File("out").c_str(), "w");
    std::FILE* err = std::fopen(dir.File("err").c_str(), "w");
    CallAndReport(command, entry, out, err);
    std::fclose(out);
    std::fclose(err);
    if (diagnostics)
        *diagnostics = ReadText(dir.File("err"));
    return ReadText(dir.File("out"));
}

// Text a program wrote through the C runtime's text mode, with its line ends
// as a text-mode read gives them.
std::string LinesOf(std::string text)
{
    std::string::size_type at;
    while ((at = text.find("\r\n")) != std::string::npos)
        text.erase(at, 1);
    return text;
}

// Runs program with arguments in folder; returns its exit status and what
// it wrote to standard output and standard error.
DWORD RunProgram(const std::string& program, const std::string& arguments, const std::string& folder, std::string* out,
                 std::string* err)
{
    DWORD status = setupsup_test::RunProgram("\"" + program + "\" " + arguments, folder, out, err);
    *out = LinesOf(*out);
    *err = LinesOf(*err);
    return status;
}

} // namespace

TEST(SetupsupCall, TableAgreesWithTheDllsExportTable)
{
    std::ifstream def(SETUPSUP_DEF_FILE);
    ASSERT_TRUE(def) << SETUPSUP_DEF_FILE;
    std::regex entry(R"(^\s*([A-Za-z0-9_]+)\s*=\s*[A-Za-z0-9_]+@([0-9]+))");
    size_t exports = 0;
    for (std::string line; std::getline(def, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, entry))
            continue;
        ++exports;
        const ExportSignature* signature = FindExport(m[1].str().c_str());
        ASSERT_NE(signature, nullptr) << m[1] << " is missing from the runner's table";
        EXPECT_STREQ(signature->name, m[1].str().c_str());
        EXPECT_EQ(signature->paramCount * 4, std::stoul(m[2])) << m[1] << ": argument bytes of the stdcall symbol";
        EXPECT_NE(::GetProcAddress(Dll(), signature->name), nullptr) << signature->name;
    }
    EXPECT_EQ(Exports().size(), exports) << "the table has exports the DLL does not";
}

TEST(SetupsupCall, ParsesIntegersAndRoots)
{
    struct {
        const char* text;
        bool ok;
        int value;
    } integers[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"-5", true, -5},
        {"+7", true, 7},
        {"0x1F", true, 31},
        {"0XfF", true, 255},
        {"-0x10", true, -16},
        {"2147483647", true, 2147483647},
        {"4294967295", true, -1},
        {"0xFFFFFFFF", true, -1},
        {"-2147483648", true, INT_MIN},
        {"4294967296", false, 0},
        {"0x100000000", false, 0},
        {"-2147483649", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"0x", false, 0},
        {"12a", false, 0},
        {" 1", false, 0},
        {"1.5", false, 0},
        {"-null", false, 0},
    };
    for (const auto& c : integers) {
        int value = 12345;
        EXPECT_EQ(ParseInteger(c.text, &value), c.ok) << "'" << c.text << "'";
        if (c.ok) {
            EXPECT_EQ(value, c.value) << "'" << c.text << "'";
        }
    }
    struct {
        const char* text;
        HKEY root;
    } roots[] = {
        {"HKCR", HKEY_CLASSES_ROOT},
        {"hkcu", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKU", HKEY_USERS},
        {"HKCC", HKEY_CURRENT_CONFIG},
        {"hkey_current_config", HKEY_CURRENT_CONFIG},
        {"0x80000001", HKEY_CURRENT_USER},
        {"0", nullptr},
    };
    for (const auto& c : roots) {
        HKEY root = HKEY_PERFORMANCE_DATA;
        EXPECT_TRUE(ParseRoot(c.text, &root)) << c.text;
        EXPECT_EQ(root, c.root) << c.text;
    }
    HKEY root;
    EXPECT_FALSE(ParseRoot("HKLM\\Software", &root));
    EXPECT_FALSE(ParseRoot("HKEY_CURRENT", &root));
}

TEST(SetupsupCall, RefusesBadCommandLinesNamingTheArgument)
{
    struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{}, "no export named"},
        {{"NoSuchExport"}, "no export 'NoSuchExport'"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--list", "x"}, "--list takes no arguments"},
        {{"MergeCbf", "a"}, "MergeCbf takes 2 arguments (sourcePath targetPath), not 1"},
        {{"GetPhysRAM", "a"}, "GetPhysRAM takes 0 arguments (no arguments), not 1"},
        {{"FormatDate", "2001", "12", "31", "x"}, "FormatDate takes 3 arguments (year month day), not 4"},
        {{"FormatDate", "2001", "twelve", "31"}, "argument 2 (month) must be a 32-bit integer"},
        {{"SetFileRefCount", "a.dll", "-null"}, "argument 2 (count) must be a 32-bit integer"},
        {{"CopyKey", "HKCU", "a", "HKLX", "b"}, "argument 3 (targetRoot) must be a registry root"},
    };
    for (const auto& c : cases) {
        Command command;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &command, &error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }

    Command command;
    std::string error;
    ASSERT_TRUE(Parse({"mergecbf", "-null", "-null.cbf"}, &command, &error)) << error;
    EXPECT_STREQ(command.signature->name, "MergeCbf") << "names are matched without regard to case";
    EXPECT_EQ(command.slots[0].text, nullptr) << "-null is a null pointer";
    EXPECT_STREQ(command.slots[1].text, "-null.cbf");
}

TEST(SetupsupCall, ReportsTheResultAndEveryOutput)
{
    EXPECT_EQ(CallInProcess({"FormatDate", "2001", "12", "31"}), "result=11\ndate=12/31/2001\n");
    EXPECT_EQ(CallInProcess({"GetFileLanguage", "C:\\no\\such\\file.exe"}),
              "result=-1\nlowByte=0\nhighByte=0\nlanguageName=Unavailable\n");

    // Roots by both kinds of name, through to the registry.
    const char* source = "Software\\setupsup-call-test\\source";
    const char* target = "Software\\setupsup-call-test\\target";
    HKEY key;
    ASSERT_EQ(::RegCreateKeyA(HKEY_CURRENT_USER, source, &key), ERROR_SUCCESS);
    ::RegSetValueExA(key, "name", 0, REG_SZ, reinterpret_cast<const BYTE*>("value"), 6);
    ::RegCloseKey(key);
    EXPECT_EQ(CallInProcess({"CopyKey", "HKCU", source, "HKEY_CURRENT_USER", target}), "result=0\n");
    char value[16] = "";
    LONG size = sizeof value;
    EXPECT_EQ(::RegQueryValueA(HKEY_CURRENT_USER, target, value, &size), ERROR_SUCCESS);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\setupsup-call-test");

    // A buffer written past its documented size is reported, not hidden.
    struct Overrun {
        static int WINAPI Fill(char* faceName)
        {
            std::memset(faceName, 'x', SETUPSUP_FACE_NAME_SIZE + 1);
            return 0;
        }
    };
    std::string diagnostics;
    std::string out = CallInProcess({"GetSystemFont"},
                                    reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Overrun::Fill)), &diagnostics);
    EXPECT_EQ(out, "result=0\nfaceName=" + std::string(SETUPSUP_FACE_NAME_SIZE, 'x') + "\n");
    EXPECT_NE(diagnostics.find("left faceName without its NUL"), std::string::npos) << diagnostics;
    EXPECT_NE(diagnostics.find("wrote past the 32 bytes of faceName"), std::string::npos) << diagnostics;
}

TEST(SetupsupCall, ProgramExitsWithItsStatusAndLoadsTheDllBesideItself)
{
    const std::string program = ProgramFolder() + "setupsup-call.exe";
    ScratchDir elsewhere;
    std::string out, err;
    EXPECT_EQ(RunProgram(program, "FormatDate 2001 0x0C 31", elsewhere.path(), &out, &err), 0u) << err;
    EXPECT_EQ(out, "result=11\ndate=12/31/2001\n");

    EXPECT_EQ(RunProgram(program, "FormatDate 2001 12", elsewhere.path(), &out, &err), 2u);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "setupsup-call: FormatDate takes 3 arguments (year month day), not 2\n");

    // A copy of the program alone in a folder does not take the DLL from
    // the current folder, even though one is there.
    const std::string lonely = elsewhere.File("setupsup-call.exe");
    ASSERT_TRUE(::CopyFileA(program.c_str(), lonely.c_str(), FALSE));
    EXPECT_EQ(RunProgram(lonely, "GetPhysRAM", ProgramFolder(), &out, &err), 1u);
    EXPECT_NE(err.find("cannot load " + elsewhere.File("setupsup.dll")), std::string::npos) << err;

    // The batch-file idiom of the runner's documentation, through cmd.
    const std::string batch = elsewhere.File("install.bat");
    std::ofstream(batch) << "@echo off\n"
                         << "for /f \"tokens=1,* delims==\" %%a in ('\"" << program
                         << "\" FormatDate 2001 12 31') do set run_%%a=%%b\n"
                         << "echo %run_result% %run_date%\n"
                         << "\"" << program << "\" FormatDate 2001 12 > nul 2>&1\n"
                         << "if errorlevel 2 echo refused\n"
                         << "exit /b 0\n";
    char system[MAX_PATH];
    ::GetSystemDirectoryA(system, sizeof system);
    EXPECT_EQ(RunProgram(std::string(system) + "\\cmd.exe", "/c \"" + batch + "\"", elsewhere.path(), &out, &err), 0u);
    EXPECT_EQ(out, "11 12/31/2001\nrefused\n") << err;

    ScratchDir dir;
    std::FILE* file = std::fopen(dir.File("version").c_str(), "w");
    PrintVersion(file);
    std::fclose(file);
    EXPECT_EQ(ReadText(dir.File("version")), "setupsup-call " SETUPSUP_VERSION_STRING "\n");
}
