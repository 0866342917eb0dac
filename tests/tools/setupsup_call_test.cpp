// setupsup-call: its table against the DLL's export table, its parsing and
// refusals (in-process, many cases per Wine start), its report of a real
// call, and the program itself: exit statuses and loading the DLL from its
// own folder only.
#include <windows.h>

#include <gtest/gtest.h>
#include <climits>
#include <cstring>
#include <cwchar>
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

bool Parse(std::vector<const wchar_t*> args, Command* command, std::wstring* error)
{
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), command, error);
}

// Parses args and calls the export from the DLL; returns what was printed
// to standard output (and to err in *diagnostics when given), written as
// UTF-8 so that every character can be compared.
std::string CallInProcess(std::vector<const wchar_t*> args, FARPROC entry = nullptr, std::string* diagnostics = nullptr)
{
    Command command;
    std::wstring error;
    EXPECT_TRUE(Parse(args, &command, &error)) << Utf8(error);
    if (!command.signature)
        return {};
    if (!entry)
        entry = ::GetProcAddress(Dll(), command.signature->name);
    ScratchDir dir;
    std::FILE* out = std::fopen(dir.File("out").c_str(), "w");
    std::FILE* err = std::fopen(dir.File("err").c_str(), "w");
    TextWriter outText(out, CP_UTF8), errText(err, CP_UTF8);
    CallAndReport(command, entry, outText, errText);
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
        const ExportSignature* signature = FindExport(Utf16(m[1].str()).c_str());
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
        const wchar_t* text;
        bool ok;
        int value;
    } integers[] = {
        {L"0", true, 0},
        {L"42", true, 42},
        {L"-5", true, -5},
        {L"+7", true, 7},
        {L"0x1F", true, 31},
        {L"0XfF", true, 255},
        {L"-0x10", true, -16},
        {L"2147483647", true, 2147483647},
        {L"4294967295", true, -1},
        {L"0xFFFFFFFF", true, -1},
        {L"-2147483648", true, INT_MIN},
        {L"4294967296", false, 0},
        {L"0x100000000", false, 0},
        {L"-2147483649", false, 0},
        {L"", false, 0},
        {L"-", false, 0},
        {L"0x", false, 0},
        {L"12a", false, 0},
        {L" 1", false, 0},
        {L"1.5", false, 0},
        {L"-null", false, 0},
    };
    for (const auto& c : integers) {
        int value = 12345;
        EXPECT_EQ(ParseInteger(c.text, &value), c.ok) << "'" << Utf8(c.text) << "'";
        if (c.ok) {
            EXPECT_EQ(value, c.value) << "'" << Utf8(c.text) << "'";
        }
    }
    struct {
        const wchar_t* text;
        HKEY root;
    } roots[] = {
        {L"HKCR", HKEY_CLASSES_ROOT},
        {L"hkcu", HKEY_CURRENT_USER},
        {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKU", HKEY_USERS},
        {L"HKCC", HKEY_CURRENT_CONFIG},
        {L"hkey_current_config", HKEY_CURRENT_CONFIG},
        {L"0x80000001", HKEY_CURRENT_USER},
        {L"0", nullptr},
    };
    for (const auto& c : roots) {
        HKEY root = HKEY_PERFORMANCE_DATA;
        EXPECT_TRUE(ParseRoot(c.text, &root)) << Utf8(c.text);
        EXPECT_EQ(root, c.root) << Utf8(c.text);
    }
    HKEY root;
    EXPECT_FALSE(ParseRoot(L"HKLM\\Software", &root));
    EXPECT_FALSE(ParseRoot(L"HKEY_CURRENT", &root));
}

TEST(SetupsupCall, RefusesBadCommandLinesNamingTheArgument)
{
    struct {
        std::vector<const wchar_t*> args;
        const wchar_t* message;
    } cases[] = {
        {{}, L"no export named"},
        {{L"NoSuchExport"}, L"no export 'NoSuchExport'"},
        {{L"--frobnicate"}, L"unknown option '--frobnicate'"},
        {{L"--list", L"x"}, L"--list takes no arguments"},
        {{L"MergeCbf", L"a"}, L"MergeCbf takes 2 arguments (sourcePath targetPath), not 1"},
        {{L"GetPhysRAM", L"a"}, L"GetPhysRAM takes 0 arguments (no arguments), not 1"},
        {{L"FormatDate", L"2001", L"12", L"31", L"x"}, L"FormatDate takes 3 arguments (year month day), not 4"},
        {{L"FormatDate", L"2001", L"twelve", L"31"}, L"argument 2 (month) must be a 32-bit integer"},
        {{L"SetFileRefCount", L"a.dll", L"-null"}, L"argument 2 (count) must be a 32-bit integer"},
        {{L"CopyKey", L"HKCU", L"a", L"HKLX", L"b"}, L"argument 3 (targetRoot) must be a registry root"},
    };
    for (const auto& c : cases) {
        Command command;
        std::wstring error;
        EXPECT_FALSE(Parse(c.args, &command, &error)) << Utf8(c.message);
        EXPECT_NE(error.find(c.message), std::wstring::npos) << Utf8(error);
    }

    Command command;
    std::wstring error;
    ASSERT_TRUE(Parse({L"mergecbf", L"-null", L"-null.cbf"}, &command, &error)) << Utf8(error);
    EXPECT_STREQ(command.signature->name, "MergeCbf") << "names are matched without regard to case";
    EXPECT_EQ(command.slots[0].wideText, nullptr) << "-null is a null pointer";
    EXPECT_STREQ(command.slots[1].wideText, L"-null.cbf");
}

TEST(SetupsupCall, ReportsTheResultAndEveryOutput)
{
    EXPECT_EQ(CallInProcess({L"FormatDate", L"2001", L"12", L"31"}), "result=11\ndate=12/31/2001\n");
    EXPECT_EQ(CallInProcess({L"GetFileLanguageW", L"C:\\no\\such\\file.exe"}),
              "result=-1\nlowByte=0\nhighByte=0\nlanguageName=Unavailable\n");

    // Roots by both kinds of name, through to the registry.
    const char* source = "Software\\setupsup-call-test\\source";
    HKEY key;
    ASSERT_EQ(::RegCreateKeyA(HKEY_CURRENT_USER, source, &key), ERROR_SUCCESS);
    ::RegSetValueExA(key, "name", 0, REG_SZ, reinterpret_cast<const BYTE*>("value"), 6);
    ::RegCloseKey(key);
    EXPECT_EQ(CallInProcess({L"CopyKey", L"HKCU", L"Software\\setupsup-call-test\\source", L"HKEY_CURRENT_USER",
                             L"Software\\setupsup-call-test\\target"}),
              "result=0\n");
    char value[16] = "";
    LONG size = sizeof value;
    EXPECT_EQ(::RegQueryValueA(HKEY_CURRENT_USER, "Software\\setupsup-call-test\\target", value, &size), ERROR_SUCCESS);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\setupsup-call-test");

    // Text outputs reach the reader as text: an ANSI export's bytes in the
    // ANSI code page (0xE9 is e-acute in 1252), a W export's UTF-16 whole.
    struct Writers {
        static int WINAPI Ansi(char* faceName)
        {
            std::strcpy(faceName, "Caf\xE9");
            return 0;
        }
        static int WINAPI Wide(wchar_t* faceName)
        {
            std::wcscpy(faceName, L"\u0141\u00F3d\u017A-\u7530\u4E2D");
            return 0;
        }
    };
    ASSERT_EQ(::GetACP(), 1252u) << "the run's ANSI code page";
    EXPECT_EQ(CallInProcess({L"GetSystemFont"}, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Writers::Ansi))),
              "result=0\nfaceName=Caf\xC3\xA9\n");
    EXPECT_EQ(CallInProcess({L"GetSystemFontW"}, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Writers::Wide))),
              "result=0\nfaceName=\xC5\x81\xC3\xB3"
              "d\xC5\xBA-\xE7\x94\xB0\xE4\xB8\xAD\n");

    // A buffer written past its documented size is reported, not hidden.
    struct Overrun {
        static int WINAPI Fill(char* faceName)
        {
            std::memset(faceName, 'x', SETUPSUP_FACE_NAME_SIZE + 1);
            return 0;
        }
        static int WINAPI FillWide(wchar_t* faceName)
        {
            std::wmemset(faceName, L'y', SETUPSUP_FACE_NAME_SIZE + 1);
            return 0;
        }
    };
    std::string diagnostics;
    std::string out = CallInProcess({L"GetSystemFont"},
                                    reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Overrun::Fill)), &diagnostics);
    EXPECT_EQ(out, "result=0\nfaceName=" + std::string(SETUPSUP_FACE_NAME_SIZE, 'x') + "\n");
    EXPECT_NE(diagnostics.find("left faceName without its NUL"), std::string::npos) << diagnostics;
    EXPECT_NE(diagnostics.find("wrote past the 32 bytes of faceName"), std::string::npos) << diagnostics;
    out = CallInProcess({L"GetSystemFontW"}, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&Overrun::FillWide)),
                        &diagnostics);
    EXPECT_EQ(out, "result=0\nfaceName=" + std::string(SETUPSUP_FACE_NAME_SIZE, 'y') + "\n");
    EXPECT_NE(diagnostics.find("wrote past the 32 characters of faceName"), std::string::npos) << diagnostics;
}

// The command line as the system gives it: a W export receives a name
// outside the ANSI code page whole, its ANSI twin the code page's look-alike
// or '?', which names no file.
TEST(SetupsupCall, PassesUnicodeArgumentsWholeToTheWExports)
{
    ScratchDir dir;
    const std::wstring folder = Utf16(dir.path()) + L"\\\u0141\u00F3d\u017A-\u041A\u043B\u044E\u0447-\u7530\u4E2D";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring grows = folder + L"\\grows.bin", piece = folder + L"\\piece.bin";
    for (const auto& [path, byte] : {std::pair{grows, 'a'}, std::pair{piece, 'b'}}) {
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ::WriteFile(file, &byte, 1, &written, nullptr);
        ::CloseHandle(file);
    }
    const std::wstring program = L"\"" + Utf16(ProgramFile("setupsup-call.exe")) + L"\" ";
    const std::wstring paths = L" \"" + grows + L"\" \"" + piece + L"\"";
    std::string out, err;
    EXPECT_EQ(RunProgram(program + L"UnsplitFile" + paths, L"", &out, &err), 0u) << err;
    EXPECT_EQ(LinesOf(out), "result=-1\n") << "the ANSI twin cannot name the folder";
    EXPECT_EQ(RunProgram(program + L"UnsplitFileW" + paths, L"", &out, &err), 0u) << err;
    EXPECT_EQ(LinesOf(out), "result=0\n");
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(::GetFileAttributesExW(grows.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 2u) << "the piece was appended once, by the W call";
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
    TextWriter version(file, CP_UTF8);
    PrintVersion(version);
    std::fclose(file);
    EXPECT_EQ(ReadText(dir.File("version")), "setupsup-call " SETUPSUP_VERSION_STRING "\n");
}
