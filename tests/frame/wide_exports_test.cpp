// The W exports with names outside the ANSI code page: a folder, a key, a
// value, a program and a font named in Polish, Cyrillic and CJK with a
// character outside the Basic Multilingual Plane, in a prefix whose ANSI
// code page is 1252. Each W export reaches them; its ANSI twin, given the
// same name as an ANSI caller has it (the code page's best fit: look-alikes
// and '?'), gets the documented failure and touches nothing.
//
// The same program runs again with the prefix told that it is Windows 98
// (SETUPSUP_WIDE_MODE=win98), where the W exports take their ANSI path: a
// name that converts exactly (in 1252) still works, one that does not is
// refused with the ANSI export's failure, never passed on as a look-alike.
#include "tests/cbf/cbf_image.h"
#include "tests/common/test_support.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace setupsup_test;

namespace {

using PathW = int(WINAPI*)(const wchar_t*);
using PathA = int(WINAPI*)(const char*);
using TwoPathsW = int(WINAPI*)(const wchar_t*, const wchar_t*);
using TwoPathsA = int(WINAPI*)(const char*, const char*);
using LanguageW = int(WINAPI*)(const wchar_t*, int*, int*, wchar_t*);
using LanguageA = int(WINAPI*)(const char*, int*, int*, char*);
using CopyKeyW = int(WINAPI*)(HKEY, const wchar_t*, HKEY, const wchar_t*);
using CopyKeyA = int(WINAPI*)(HKEY, const char*, HKEY, const char*);
using SetCountW = int(WINAPI*)(const wchar_t*, int);
using SetCountA = int(WINAPI*)(const char*, int);
using ShellW = int(WINAPI*)(const wchar_t*, const wchar_t*, const wchar_t*, int);
using ShellA = int(WINAPI*)(const char*, const char*, const char*, int);
using FormatDateW = int(WINAPI*)(int, int, int, wchar_t*);
using CountW = int(WINAPI*)(const wchar_t*, DWORD);
using UsersW = int(WINAPI*)(const wchar_t*, wchar_t*, DWORD);
// setupsup.h's SETUPSUP_PROCESS_BAD_NAME and SETUPSUP_SCOPE_ALL (the header
// declares the exports under the names this file gives their types).
constexpr int kProcessBadName = -1;
constexpr DWORD kScopeAll = 2;

// Outside code page 1252 (and every other).
const std::wstring kForeign = kForeignName;
// Inside it, not ASCII: converts exactly on the Windows 95 family.
const std::wstring kWestern = L"Caf\u00E9-M\u00FCller";

bool Win98Mode()
{
    const char* mode = std::getenv("SETUPSUP_WIDE_MODE");
    return mode && std::strcmp(mode, "win98") == 0;
}

// The run must be what the test takes it for: ANSI code page 1252, and the
// system family the mode names.
class WidePreconditions : public ::testing::Environment {
public:
    void SetUp() override
    {
        const bool nineX = (::GetVersion() & 0x80000000u) != 0;
        if (::GetACP() != 1252 || nineX != Win98Mode()) {
            std::fprintf(stderr, "wide_exports_test: needs ANSI code page 1252 (has %u) and %s (GetVersion %08lx)\n",
                         ::GetACP(), Win98Mode() ? "the Windows 98 mode" : "the NT family",
                         static_cast<unsigned long>(::GetVersion()));
            std::exit(1);
        }
    }
};
const auto* const g_preconditions = ::testing::AddGlobalTestEnvironment(new WidePreconditions);

// text as an ANSI caller has it: converted with the system's best fit.
std::string Ansi(const std::wstring& text)
{
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), bytes, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(bytes - 1));
    return ansi;
}

void WriteW(const std::wstring& path, const std::vector<unsigned char>& bytes)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf8(path);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::vector<unsigned char> ReadW(const std::wstring& path)
{
    std::vector<unsigned char> bytes;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(::GetFileSize(file, nullptr));
    DWORD got = 0;
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    ::CloseHandle(file);
    return bytes;
}

FILETIME LastWrite(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

void SetLastWrite(const std::wstring& path, FILETIME time)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetFileTime(file, nullptr, &time, &time);
    ::CloseHandle(file);
}

bool SameTime(FILETIME a, FILETIME b) { return ::CompareFileTime(&a, &b) == 0; }

// A folder named name inside a scratch folder, for one test.
class NamedFolder {
public:
    explicit NamedFolder(const std::wstring& name) : path_(Utf16(scratch_.path()) + L"\\" + name)
    {
        EXPECT_TRUE(::CreateDirectoryW(path_.c_str(), nullptr)) << Utf8(path_);
    }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }
    const std::wstring& path() const { return path_; }

private:
    ScratchDir scratch_;
    std::wstring path_;
};

// Each behaviour runs for a name outside the code page and one inside it.
// Outside: the W export succeeds on the NT family and is refused on the
// Windows 95 family; inside it succeeds on both.
struct Name {
    std::wstring text;
    bool reachable; // by the W export in this mode
};

std::vector<Name> Names() { return {{kForeign, !Win98Mode()}, {kWestern, true}}; }

} // namespace

TEST(WideNames, CbfFilesAreRewrittenWithTheirTimesKept)
{
    CbfImage installed;
    installed.Block(1, 40, 1).Block(2, 40, 2);
    CbfImage update;
    update.Block(2, 30, 9).Block(3, 30, 7);
    for (const Name& name : Names()) {
        NamedFolder folder(name.text);
        const std::wstring target = folder.File(name.text + L".cbf"), source = folder.File(L"update.cbf");
        WriteW(target, installed.Build());
        WriteW(source, update.Build());
        const FILETIME stamp{0x12345678, 0x01C2B3A4};
        SetLastWrite(target, stamp);

        // The ANSI exports, given the names as an ANSI caller has them.
        if (name.text == kForeign) {
            EXPECT_EQ(Export<TwoPathsA>("MergeCbf")(Ansi(source).c_str(), Ansi(target).c_str()), -1);
            EXPECT_EQ(Export<PathA>("TruncateCbf")(Ansi(target).c_str()), -1);
            EXPECT_EQ(ReadW(target), installed.Build()) << "the ANSI export touched nothing";
        }
        const int expected = name.reachable ? 0 : -1;
        EXPECT_EQ(Export<TwoPathsW>("MergeCbfW")(source.c_str(), target.c_str()), expected) << Utf8(name.text);
        EXPECT_EQ(Export<TwoPathsW>("PruneCbfW")(source.c_str(), target.c_str()), expected) << Utf8(name.text);
        if (name.reachable) {
            EXPECT_NE(ReadW(target), installed.Build()) << "merged and pruned";
            EXPECT_TRUE(SameTime(LastWrite(target), stamp)) << "the times are kept";
        } else {
            EXPECT_EQ(ReadW(target), installed.Build()) << "refused before anything is opened";
        }
        EXPECT_EQ(Export<PathW>("TruncateCbfW")(target.c_str()), expected);
        EXPECT_EQ(ReadW(target).size(), name.reachable ? 21u + 250 * 24 : installed.Build().size());
        // A source named outside the code page gives what a missing source
        // gives; the installed file is refused first.
        if (!name.reachable) {
            EXPECT_EQ(Export<TwoPathsW>("MergeCbfW")(source.c_str(), folder.File(L"none.cbf").c_str()), -1);
            NamedFolder reachable(kWestern);
            const std::wstring plain = reachable.File(L"installed.cbf");
            WriteW(plain, installed.Build());
            EXPECT_EQ(Export<TwoPathsW>("MergeCbfW")(source.c_str(), plain.c_str()), 3);
            EXPECT_EQ(Export<TwoPathsW>("PruneCbfW")(source.c_str(), plain.c_str()), 3);
            EXPECT_EQ(ReadW(plain), installed.Build()) << "refused before anything is written";
        }
    }
}

TEST(WideNames, SplitFilesAndTimes)
{
    for (const Name& name : Names()) {
        NamedFolder folder(name.text);
        const std::wstring grows = folder.File(name.text + L".001"), piece = folder.File(name.text + L".002");
        WriteW(grows, {'a', 'b'});
        WriteW(piece, {'c'});
        if (name.text == kForeign) {
            EXPECT_EQ(Export<TwoPathsA>("UnsplitFile")(Ansi(grows).c_str(), Ansi(piece).c_str()), -1);
            EXPECT_EQ(Export<TwoPathsA>("MatchFileDate")(Ansi(piece).c_str(), Ansi(grows).c_str()), -1);
        }
        const FILETIME stamp{0x11111111, 0x01C00000}, other{0x22222222, 0x01C10000};
        SetLastWrite(grows, stamp);
        SetLastWrite(piece, other);
        EXPECT_EQ(Export<TwoPathsW>("UnsplitFileW")(grows.c_str(), piece.c_str()), name.reachable ? 0 : -1);
        EXPECT_EQ(ReadW(grows).size(), name.reachable ? 3u : 2u);
        EXPECT_TRUE(SameTime(LastWrite(grows), stamp)) << "joined or not, the times stay";
        EXPECT_EQ(Export<TwoPathsW>("MatchFileDateW")(piece.c_str(), grows.c_str()), name.reachable ? 0 : -1);
        EXPECT_TRUE(SameTime(LastWrite(grows), name.reachable ? other : stamp));
        // Each path in step order, as a null one: a target so named counts
        // only once the source has opened.
        if (!name.reachable) {
            NamedFolder reachable(kWestern);
            const std::wstring present = reachable.File(L"present"), missing = reachable.File(L"missing");
            WriteW(present, {'p'});
            EXPECT_EQ(Export<TwoPathsW>("MatchFileDateW")(present.c_str(), grows.c_str()), -2);
            EXPECT_EQ(Export<TwoPathsW>("MatchFileDateW")(missing.c_str(), grows.c_str()), -1);
        }
    }
}

// Deleted and replaced now (no one holds them): nothing is arranged for the
// restart. A name the Windows 95 family cannot spell gives NOT_FOUND (-2).
TEST(WideNames, FilesInUseDeletedAndReplaced)
{
    for (const Name& name : Names()) {
        NamedFolder folder(name.text);
        const std::wstring doomed = folder.File(name.text + L".old"), source = folder.File(name.text + L".new");
        const std::wstring target = folder.File(name.text + L".bin");
        WriteW(doomed, {'d'});
        WriteW(source, {'n', 'e', 'w'});
        WriteW(target, {'o'});
        if (name.text == kForeign) {
            EXPECT_EQ(Export<PathA>("DeleteInUseFile")(Ansi(doomed).c_str()), -2) << "the look-alike names no file";
            EXPECT_EQ(Export<TwoPathsA>("ReplaceInUseFile")(Ansi(source).c_str(), Ansi(target).c_str()), -2);
        }
        EXPECT_EQ(Export<PathW>("DeleteInUseFileW")(doomed.c_str()), name.reachable ? 0 : -2) << Utf8(name.text);
        EXPECT_EQ(ReadW(doomed).size(), name.reachable ? 0u : 1u);
        EXPECT_EQ(Export<TwoPathsW>("ReplaceInUseFileW")(source.c_str(), target.c_str()), name.reachable ? 0 : -2);
        EXPECT_EQ(ReadW(target).size(), name.reachable ? 3u : 1u);
        EXPECT_EQ(Export<int(WINAPI*)()>("IsRebootPending")(), 0) << "nothing arranged";
    }
}

// A font file so named is installed for the user under its own name and
// taken away again; a name the Windows 95 family cannot spell gives
// NOT_FOUND (-3) and installs nothing. Scope 0: the user.
TEST(WideNames, FontInstalledForTheUserAndRemoved)
{
    using ScopedW = int(WINAPI*)(const wchar_t*, DWORD);
    for (const Name& name : Names()) {
        NamedFolder folder(name.text);
        const std::wstring font = folder.File(name.text + L".ttf");
        ASSERT_TRUE(::CopyFileW(Utf16(ProgramFile("setupsup-single.ttf")).c_str(), font.c_str(), FALSE));
        wchar_t local[MAX_PATH];
        ASSERT_TRUE(::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH));
        const std::wstring installed = std::wstring(local) + L"\\Microsoft\\Windows\\Fonts\\" + name.text + L".ttf";
        EXPECT_EQ(Export<ScopedW>("InstallFontW")(font.c_str(), 0), name.reachable ? 0 : -3) << Utf8(name.text);
        EXPECT_EQ(::GetFileAttributesW(installed.c_str()) != INVALID_FILE_ATTRIBUTES, name.reachable);
        EXPECT_EQ(Export<ScopedW>("UninstallFontW")(font.c_str(), 0), name.reachable ? 0 : -3);
        EXPECT_EQ(::GetFileAttributesW(installed.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

// A folder so named joins the user's Path and leaves it, and a variable so
// named and valued is set and deleted, through the registry's W calls (on
// the Windows 95 family its A calls); a name that family cannot spell is
// refused as a null one (SETUPSUP_ENV_BAD_ARGUMENT, -1) and changes nothing.
TEST(WideNames, PathFolderAndVariableSoNamed)
{
    using PathW = int(WINAPI*)(const wchar_t*, DWORD);
    auto pathText = [] {
        wchar_t text[4096] = {};
        DWORD bytes = sizeof(text) - sizeof(wchar_t);
        ::RegGetValueW(HKEY_CURRENT_USER, L"Environment", L"Path", RRF_RT_ANY | RRF_NOEXPAND, nullptr, text, &bytes);
        return std::wstring(text);
    };
    const std::wstring before = pathText();
    for (const Name& name : Names()) {
        const std::wstring folder = L"C:\\" + name.text;
        const int expected = name.reachable ? 0 : -1;
        EXPECT_EQ(Export<int(WINAPI*)(const wchar_t*, DWORD, DWORD)>("AddToPathW")(folder.c_str(), 0, 1), expected)
            << Utf8(name.text);
        EXPECT_EQ(pathText(), name.reachable ? (before.empty() ? folder : folder + L";" + before) : before);
        EXPECT_EQ(Export<PathW>("RemoveFromPathW")(folder.c_str(), 0), expected);
        EXPECT_EQ(pathText(), before);
        EXPECT_EQ(Export<int(WINAPI*)(const wchar_t*, const wchar_t*, DWORD)>("SetEnvironmentValueW")(
                      name.text.c_str(), name.text.c_str(), 0),
                  expected);
        wchar_t value[256] = {};
        DWORD bytes = sizeof(value);
        EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, L"Environment", name.text.c_str(), RRF_RT_REG_SZ, nullptr, value,
                                 &bytes) == ERROR_SUCCESS &&
                      name.text == value,
                  name.reachable);
        EXPECT_EQ(Export<PathW>("DeleteEnvironmentValueW")(name.text.c_str(), 0), expected);
    }
}

TEST(WideNames, VersionLanguageOfAModuleSoNamed)
{
    for (const Name& name : Names()) {
        NamedFolder folder(name.text);
        const std::wstring module = folder.File(name.text + L".dll");
        ASSERT_TRUE(::CopyFileW(Utf16(ProgramFile("setupsup.dll")).c_str(), module.c_str(), FALSE));
        int low = 7, high = 7;
        wchar_t language[12];
        std::wmemset(language, L'x', 12);
        EXPECT_EQ(Export<LanguageW>("GetFileLanguageW")(module.c_str(), &low, &high, language),
                  name.reachable ? 0 : -1);
        EXPECT_EQ(low, name.reachable ? 9 : 0);
        EXPECT_EQ(high, name.reachable ? 4 : 0);
        EXPECT_STREQ(language, name.reachable ? L"ENGLISH" : L"Unavailable");
        EXPECT_EQ(Export<LanguageW>("GetFileLanguageW")(module.c_str(), &low, nullptr, nullptr),
                  name.reachable ? 0 : -1)
            << "a null output is skipped";
        if (name.text == kForeign) {
            char ansiLanguage[12];
            EXPECT_EQ(Export<LanguageA>("GetFileLanguage")(Ansi(module).c_str(), &low, &high, ansiLanguage), -1);
            EXPECT_STREQ(ansiLanguage, "Unavailable");
        }
    }
}

TEST(WideNames, TypeLibrariesAndServersRegister)
{
    const wchar_t kTypesPath[] = L"TypeLib\\{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E01}\\1.0\\0\\win32";
    const char kMark[] = "Software\\SetupSupTest\\SelfRegister";
    for (const Name& name : Names()) {
        NamedFolder folder(name.text);
        const std::wstring tlb = folder.File(name.text + L".tlb"), server = folder.File(name.text + L".dll");
        ASSERT_TRUE(::CopyFileW(Utf16(ProgramFile("selfreg_types.tlb")).c_str(), tlb.c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(Utf16(ProgramFile("selfreg_ok.dll")).c_str(), server.c_str(), FALSE));
        ::RegDeleteTreeA(HKEY_CLASSES_ROOT, "TypeLib\\{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E01}");
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kMark);
        if (name.text == kForeign) {
            EXPECT_EQ(Export<PathA>("SelfRegisterFile")(Ansi(tlb).c_str()), 97) << "not loaded";
            EXPECT_EQ(Export<PathA>("SelfRegisterFile")(Ansi(server).c_str()), 99) << "not loadable";
        }
        EXPECT_EQ(Export<PathW>("SelfRegisterFileW")(tlb.c_str()), name.reachable ? 0 : 97);
        wchar_t registered[MAX_PATH] = L"";
        LONG size = sizeof registered;
        ::RegQueryValueW(HKEY_CLASSES_ROOT, kTypesPath, registered, &size);
        EXPECT_EQ(std::wstring(registered), name.reachable ? tlb : L"") << "registered under its own path";
        EXPECT_EQ(Export<PathW>("SelfRegisterFileW")(server.c_str()), name.reachable ? 0 : 99);
        HKEY key;
        std::string recorded;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, kMark, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            char value[64] = "";
            DWORD bytes = sizeof value;
            if (::RegQueryValueExA(key, "Registered", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes) ==
                ERROR_SUCCESS)
                recorded = value;
            ::RegCloseKey(key);
        }
        EXPECT_EQ(recorded, name.reachable ? "selfreg_ok" : "") << "its DllRegisterServer ran";

        // Registered for the user and unregistered again, under the same path.
        // Wine's win98 mode keeps the predefined-key redirect, so a name
        // without an ANSI form gets the machine exports' refusal there.
        EXPECT_EQ(Export<PathW>("SelfRegisterFileForUserW")(tlb.c_str()), name.reachable ? 0 : 97);
        const std::wstring userTypes = std::wstring(L"Software\\Classes\\") + kTypesPath;
        size = sizeof registered;
        registered[0] = 0;
        ::RegQueryValueW(HKEY_CURRENT_USER, userTypes.c_str(), registered, &size);
        EXPECT_EQ(std::wstring(registered), name.reachable ? tlb : L"") << "registered for the user under its path";
        EXPECT_EQ(Export<PathW>("SelfUnregisterFileForUserW")(tlb.c_str()), name.reachable ? 0 : 97);
        EXPECT_EQ(Export<PathW>("SelfUnregisterFileW")(tlb.c_str()), name.reachable ? 0 : 97);
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER}) {
            size = sizeof registered;
            registered[0] = 0;
            ::RegQueryValueW(root, root == HKEY_CURRENT_USER ? userTypes.c_str() : kTypesPath, registered, &size);
            EXPECT_EQ(std::wstring(registered), L"") << "unregistered";
        }
        EXPECT_EQ(Export<PathW>("SelfUnregisterFileW")(server.c_str()), name.reachable ? 0 : 99);
        EXPECT_EQ(Export<PathW>("SelfRegisterFileForUserW")(server.c_str()), name.reachable ? 0 : 99);
        EXPECT_EQ(Export<PathW>("SelfUnregisterFileForUserW")(server.c_str()), name.reachable ? 0 : 99);
    }
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, "TypeLib\\{6F1C3E52-2A4B-4C1D-9E11-5A0B1C2D3E01}");
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kMark);
}

TEST(WideNames, SharedDllCountsOfAFileSoNamed)
{
    const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const Name& name : Names()) {
        const std::wstring file = L"C:\\Program Files\\" + name.text + L"\\shared.dll";
        EXPECT_EQ(Export<SetCountW>("SetFileRefCountW")(file.c_str(), 3), name.reachable ? 0 : ERROR_INVALID_PARAMETER);
        EXPECT_EQ(Export<PathW>("GetFileRefCountW")(file.c_str()), name.reachable ? 3 : 10001);
        if (name.text == kForeign) {
            EXPECT_EQ(Export<PathA>("GetFileRefCount")(Ansi(file).c_str()), 10001) << "the look-alike has no count";
        }
        ::RegDeleteValueW(key, file.c_str());
    }
    // One value for one path, whichever export writes or reads it.
    EXPECT_EQ(Export<SetCountA>("SetFileRefCount")("C:\\Shared\\both.dll", 5), 0);
    EXPECT_EQ(Export<PathW>("GetFileRefCountW")(L"C:\\Shared\\both.dll"), 5);
    ::RegDeleteValueA(key, "C:\\Shared\\both.dll");
    ::RegCloseKey(key);
}

TEST(WideNames, RegistryTreesKeepEveryCharacter)
{
    const std::wstring base = L"Software\\SetupsupWide";
    ::RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
    for (const Name& name : Names()) {
        const std::wstring source = base + L"\\" + name.text, copy = base + L"\\Copy-" + name.text;
        HKEY key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (source + L"\\" + name.text + L"\\Setup").c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::wstring data = L"\u0141\u00F3d\u017A-\u7530\u4E2D-\U0001D11E";
        ::RegSetValueExW(key, L"CurrentlyRegistered", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
        ::RegSetValueExW(key, name.text.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        const DWORD one = 1;
        ::RegSetValueExW(key, L"dword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        ::RegCloseKey(key);

        if (name.text == kForeign) {
            EXPECT_EQ(Export<CopyKeyA>("CopyKey")(HKEY_CURRENT_USER, Ansi(source).c_str(), HKEY_CURRENT_USER,
                                                  Ansi(copy).c_str()),
                      ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(Export<PathA>("UnregisterZORBApps")(Ansi(source).c_str()), 0);
        }
        EXPECT_EQ(Export<CopyKeyW>("CopyKeyW")(HKEY_CURRENT_USER, source.c_str(), HKEY_CURRENT_USER, copy.c_str()),
                  name.reachable ? 0 : ERROR_FILE_NOT_FOUND);
        const std::wstring copied = copy + L"\\" + name.text + L"\\Setup";
        wchar_t read[64] = L"";
        DWORD bytes = sizeof read, type = 0;
        LONG found =
            ::RegGetValueW(HKEY_CURRENT_USER, copied.c_str(), name.text.c_str(), RRF_RT_ANY, &type, read, &bytes);
        EXPECT_EQ(found == ERROR_SUCCESS, name.reachable) << "nothing created for a refused name";
        if (name.reachable) {
            // On the Windows 95 family the copy is the ANSI export's, which
            // reads string values in the code page.
            const std::wstring expected = Win98Mode() ? CodePageToWide(CP_ACP, Ansi(data)) : data;
            EXPECT_EQ(std::wstring(read), expected) << "every character of the string value";
            BYTE dword[8] = {};
            bytes = sizeof dword;
            ::RegGetValueW(HKEY_CURRENT_USER, copied.c_str(), L"dword", RRF_RT_ANY, &type, dword, &bytes);
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(bytes, 4u) << "the DWORD 1 as the ANSI export writes it: the byte 1 and a NUL, in UTF-16";
            EXPECT_EQ(dword[0], 1);
        }
        EXPECT_EQ(Export<PathW>("UnregisterZORBAppsW")(source.c_str()), name.reachable ? 1 : 0);
        bytes = sizeof read;
        ::RegGetValueW(HKEY_CURRENT_USER, (source + L"\\" + name.text + L"\\Setup").c_str(), L"CurrentlyRegistered",
                       RRF_RT_REG_SZ, nullptr, read, &bytes);
        EXPECT_STREQ(read, name.reachable ? L"0" : L"1");
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
}

TEST(WideNames, ProgramsFontsShellAndDates)
{
    for (const Name& name : Names()) {
        NamedFolder folder(name.text);
        // A program so named, running.
        const std::wstring program = folder.File(name.text + L".exe");
        ASSERT_TRUE(::CopyFileW(Utf16(ProgramFile("shell_recorder.exe")).c_str(), program.c_str(), FALSE));
        const std::wstring record = folder.File(L"record");
        const int started = Export<ShellW>("ShellExecuteSimpleW")(program.c_str(), (L"\"" + record + L"\"").c_str(),
                                                                  folder.path().c_str(), SW_HIDE);
        if (name.reachable) {
            EXPECT_GT(started, 32);
        } else {
            EXPECT_EQ(started, SE_ERR_FNF);
        }
        if (name.text == kForeign) {
            EXPECT_LE(Export<ShellA>("ShellExecuteSimple")(Ansi(program).c_str(), nullptr, nullptr, SW_HIDE), 32);
            EXPECT_EQ(Export<PathA>("AddFont")(Ansi(folder.File(name.text + L".ttf")).c_str()), 0);
        }
        // The recorder renames its record into place when it has written it;
        // a loaded machine may take long to start it.
        bool recorded = false;
        for (int i = 0; name.reachable && i < 600 && !recorded; ++i) {
            recorded = ::GetFileAttributesW((record + L".rec").c_str()) != INVALID_FILE_ATTRIBUTES;
            if (!recorded)
                ::Sleep(100);
        }
        EXPECT_EQ(recorded, name.reachable) << "the program so named ran";

        // A font file so named.
        const std::wstring font = folder.File(name.text + L".ttf");
        ASSERT_TRUE(::CopyFileW(Utf16(ProgramFile("setupsup-single.ttf")).c_str(), font.c_str(), FALSE));
        EXPECT_EQ(Export<PathW>("AddFontW")(font.c_str()), name.reachable ? 1 : 0) << "one font: the broadcast's 1";
        EXPECT_EQ(Export<PathW>("RemoveFontW")(font.c_str()), 1);
        wchar_t fontName[64] = L"x";
        EXPECT_EQ(Export<UsersW>("GetFontNameW")(font.c_str(), fontName, 64), name.reachable ? 0 : -1);
        EXPECT_STREQ(fontName, name.reachable ? L"Setupsup Single (TrueType)" : L"") << "exact from either path";
        if (name.text == kForeign) {
            char ansiName[64] = "x";
            using FontNameA = int(WINAPI*)(const char*, char*, DWORD);
            EXPECT_EQ(Export<FontNameA>("GetFontName")(Ansi(font).c_str(), ansiName, 64), -1) << "a look-alike path";
        }
    }
}

TEST(WideNames, ProcessesByAnExecutableNameSoNamed)
{
    for (const Name& name : Names()) {
        NamedFolder folder(name.text);
        // In capitals: on the Windows 95 family the name is looked for as it
        // is in the reported path after only a to z are raised, and Wine
        // reports the file's own case.
        std::wstring exe = name.text + L".EXE";
        ::CharUpperBuffW(exe.data(), static_cast<DWORD>(exe.size()));
        ASSERT_TRUE(::CopyFileW(Utf16(ProgramFile("ZorbProcHelper.exe")).c_str(), folder.File(exe).c_str(), FALSE));
        const std::wstring ready = L"SetupsupWideReady" + std::to_wstring(::GetCurrentProcessId());
        const std::wstring quit = L"SetupsupWideQuit" + std::to_wstring(::GetCurrentProcessId());
        HANDLE readyEvent = ::CreateEventW(nullptr, TRUE, FALSE, ready.c_str());
        HANDLE quitEvent = ::CreateEventW(nullptr, TRUE, FALSE, quit.c_str());
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        std::wstring line = L"\"" + folder.File(exe) + L"\" sleep " + ready + L" " + quit;
        ASSERT_TRUE(
            ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
        ASSERT_EQ(::WaitForSingleObject(readyEvent, 60000), WAIT_OBJECT_0) << "the helper so named started";
        EXPECT_EQ(Export<PathW>("IsZORBAppRunningW")(exe.c_str()), name.reachable ? 1 : 0) << Utf8(exe);
        // The ANSI path hears of the process by the same look-alike it is
        // given, and cannot tell the two apart; the W export can.
        if (name.text == kForeign && !Win98Mode()) {
            EXPECT_EQ(Export<PathW>("IsZORBAppRunningW")(CodePageToWide(CP_ACP, Ansi(exe)).c_str()), 0)
                << "no process runs the look-alike";
            EXPECT_EQ(Export<CountW>("CountProcessesW")(CodePageToWide(CP_ACP, Ansi(exe)).c_str(), 0), 0);
        }
        // Refused as a null name where the name has no ANSI form. By path:
        // Wine's tool-help process records name the base name only, also in
        // win98 mode (the Windows 95 family's carry the full path), so the
        // path matches no record there; its module records carry the full
        // path, and the folder's user is found through them, listed by the
        // process record's name.
        const int refused = kProcessBadName;
        EXPECT_EQ(Export<CountW>("CountProcessesW")(exe.c_str(), 0), name.reachable ? 1 : refused);
        EXPECT_EQ(Export<CountW>("CountProcessesW")(folder.File(exe).c_str(), kScopeAll), !name.reachable ? refused
                                                                                          : Win98Mode()   ? 0
                                                                                                          : 1);
        wchar_t users[512] = L"x";
        EXPECT_EQ(Export<UsersW>("FindFileUsersW")(folder.path().c_str(), users, 512), name.reachable ? 1 : refused);
        const std::wstring listed = !name.reachable ? L"x" : (Win98Mode() ? exe : folder.File(exe)) + L"\r\n";
        EXPECT_EQ(::lstrcmpiW(users, listed.c_str()), 0) << Utf8(users) << " for " << Utf8(listed);
        ::SetEvent(quitEvent);
        ::WaitForSingleObject(child.hProcess, 60000);
        for (HANDLE handle : {child.hThread, child.hProcess, readyEvent, quitEvent})
            ::CloseHandle(handle);
    }
}

// The user's short date format holds characters outside the code page: the
// W export writes them, and counts characters.
TEST(WideNames, DatesInAUserFormatSoWritten)
{
    wchar_t saved[80] = L"";
    ASSERT_GT(::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved, 80), 0);
    const std::wstring picture = L"yyyy'\u5E74'MM'\u043C'dd'\U0001D11E'";
    ASSERT_TRUE(::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, picture.c_str()));
    wchar_t date[49];
    const int written = Export<FormatDateW>("FormatDateW")(2001, 12, 31, date);
    ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved);
    if (Win98Mode()) {
        EXPECT_NE(std::wstring(date), L"2001\u5E7412\u043C31\U0001D11E") << "the ANSI path cannot carry them";
        EXPECT_EQ(written, static_cast<int>(std::wcslen(date)) + 1) << "the characters written, counted";
    } else {
        EXPECT_EQ(std::wstring(date), L"2001\u5E7412\u043C31\U0001D11E");
        EXPECT_EQ(written, 13) << "characters with the NUL, a surrogate pair counting two";
    }
}

// An unpaired surrogate is passed to the system as it is: the system decides
// what the name means, and nothing reads past it (a high surrogate just
// before the NUL is the case a careless decoder pairs with the terminator).
// On the Windows 95 family such a name has no exact ANSI form and is refused.
TEST(WideNames, UnpairedSurrogatesReachTheSystemAsTheyAre)
{
    for (const std::wstring& lone :
         {std::wstring(L"lone-") + wchar_t(0xD800), L"lone-" + std::wstring(1, 0xDC00) + L"-x"}) {
        NamedFolder folder(L"unpaired");
        const std::wstring grows = folder.File(lone + L".001"), piece = folder.File(lone + L".002");
        // NTFS keeps such a name; Wine's file system refuses it. Either way
        // the export gives what the system gives: joined, or cannot open.
        HANDLE probe = ::CreateFileW(piece.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const bool kept = probe != INVALID_HANDLE_VALUE;
        if (kept) {
            ::CloseHandle(probe);
            WriteW(grows, {'a', 'b'});
            WriteW(piece, {'c'});
        }
        EXPECT_EQ(Export<TwoPathsW>("UnsplitFileW")(grows.c_str(), piece.c_str()), kept && !Win98Mode() ? 0 : -1);
        EXPECT_EQ(ReadW(grows).size(), kept && !Win98Mode() ? 3u : kept ? 2u : 0u);

        const std::wstring source = L"Software\\SetupsupWide\\" + lone, copy = L"Software\\SetupsupWide\\Copy-" + lone;
        HKEY key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (source + L"\\" + lone).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
        EXPECT_EQ(Export<CopyKeyW>("CopyKeyW")(HKEY_CURRENT_USER, source.c_str(), HKEY_CURRENT_USER, copy.c_str()),
                  Win98Mode() ? ERROR_FILE_NOT_FOUND : 0);
        EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, (copy + L"\\" + lone).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS,
                  !Win98Mode())
            << "the subkey's name copied unit for unit";
        if (!Win98Mode())
            ::RegCloseKey(key);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\SetupsupWide");

        EXPECT_EQ(Export<PathW>("IsZORBAppRunningW")(lone.c_str()), 0);
        EXPECT_EQ(Export<CountW>("CountProcessesW")(lone.c_str(), 0), Win98Mode() ? kProcessBadName : 0);
    }
}

// The face queries write UTF-16 in either mode: on the Windows 95 family the
// ANSI export's face, widened; a null buffer gets nothing.
TEST(WideNames, FaceNamesWidened)
{
    using FaceA = int(WINAPI*)(char*);
    using FaceW = int(WINAPI*)(wchar_t*);
    for (const char* query : {"GetSystemFont", "GetSystemFixedFont"}) {
        char ansi[32] = "";
        wchar_t wide[32];
        std::wmemset(wide, L'x', 32);
        EXPECT_EQ(Export<FaceA>(query)(ansi), 0);
        EXPECT_EQ(Export<FaceW>((std::string(query) + "W").c_str())(wide), 0);
        EXPECT_EQ(std::wstring(wide), CodePageToWide(CP_ACP, ansi)) << query << ": the prefix's faces have ASCII names";
        EXPECT_EQ(Export<FaceW>((std::string(query) + "W").c_str())(nullptr), 0);
    }
}
