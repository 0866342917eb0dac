// AddToPath, RemoveFromPath, SetEnvironmentValue and DeleteEnvironmentValue,
// A and W, for the user and the machine: on scratch key trees the test
// points HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE at (RegOverridePredefKey,
// the real redirect, for this process only), and on the real
// HKCU\Environment, whose Path is put back after. Round trips compare the
// raw bytes and type RegQueryValueExW reads.
#include <windows.h>
#include <sddl.h>
#include <userenv.h>

#include <atomic>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "setupsup.h"
#include "tests/common/export_forms.h"
#include "tests/common/test_support.h"
#include "tests/process/helper_process.h"

namespace {

using setupsup_test::ForEachForm;

constexpr wchar_t kEnvironment[] = L"Environment";
constexpr wchar_t kMachineEnvironment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// A value as the registry holds it.
struct Raw {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    bool operator==(const Raw&) const = default;
};

// A failure shows the type and the text with its NULs as \0.
void PrintTo(const Raw& raw, std::ostream* out)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(raw.bytes.data()), raw.bytes.size() / sizeof(wchar_t));
    for (size_t at = text.find(L'\0'); at != std::wstring::npos; at = text.find(L'\0', at))
        text.replace(at, 1, L"\\0");
    *out << (raw.present ? "type " + std::to_string(raw.type) : std::string("absent")) << ", " << raw.bytes.size()
         << " bytes: " << setupsup_test::Utf8(text);
}

Raw ReadRaw(HKEY root, const wchar_t* subkey, const wchar_t* name)
{
    Raw raw;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return raw;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, name, nullptr, &raw.type, nullptr, &bytes) == ERROR_SUCCESS) {
        raw.bytes.resize(bytes);
        raw.present = ::RegQueryValueExW(key, name, nullptr, &raw.type, raw.bytes.data(), &bytes) == ERROR_SUCCESS;
        raw.bytes.resize(bytes);
    }
    ::RegCloseKey(key);
    return raw;
}

void WriteRaw(HKEY root, const wchar_t* subkey, const wchar_t* name, const Raw& raw)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    ::RegDeleteValueW(key, name); // a write keeps the name a value has (Wine 8, measured)
    if (raw.present) {
        EXPECT_EQ(::RegSetValueExW(key, name, 0, raw.type, raw.bytes.data(), static_cast<DWORD>(raw.bytes.size())), 0);
    }
    ::RegCloseKey(key);
}

// The bytes of text followed by tail (the NUL and whatever else the value
// holds after its text).
Raw Text(DWORD type, const std::wstring& text, const std::wstring& tail = std::wstring(1, L'\0'))
{
    std::wstring all = text + tail;
    const BYTE* begin = reinterpret_cast<const BYTE*>(all.data());
    return Raw{true, type, std::vector<BYTE>(begin, begin + all.size() * sizeof(wchar_t))};
}

// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE pointed at two fresh keys under
// HKCU\Software for the life of the object; the keys are deleted after.
class ScratchTree {
public:
    ScratchTree()
    {
        root_ = L"Software\\SetupsupEnvironmentTest-" + std::to_wstring(::GetCurrentProcessId());
        ::RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\user").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &user_, nullptr);
        ::RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\machine").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &machine_, nullptr);
        applied_ = user_ && machine_ && ::RegOverridePredefKey(HKEY_CURRENT_USER, user_) == 0 &&
                   ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_) == 0;
    }
    ~ScratchTree()
    {
        ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        ::RegCloseKey(user_);
        ::RegCloseKey(machine_);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
    }
    bool applied() const { return applied_; }

private:
    std::wstring root_;
    HKEY user_ = nullptr, machine_ = nullptr;
    bool applied_ = false;
};

// Where a scope's variables live, seen from this process.
struct Scope {
    const char* name;
    DWORD scope;
    HKEY root;
    const wchar_t* subkey;
    const wchar_t* pathName; // as Wine 8 names it: Path for the user, PATH for the machine
};
const Scope kScopes[] = {{"user", SETUPSUP_FOR_USER, HKEY_CURRENT_USER, kEnvironment, L"Path"},
                         {"machine", SETUPSUP_FOR_MACHINE, HKEY_LOCAL_MACHINE, kMachineEnvironment, L"PATH"}};

template <typename C>
struct Form : setupsup_test::ExportForm<C> {
    using Char = C;
    int Add(const Char* folder, DWORD scope, DWORD where) const
    {
        return this->template Get<int(WINAPI*)(const Char*, DWORD, DWORD)>("AddToPath")(folder, scope, where);
    }
    int Remove(const Char* folder, DWORD scope) const
    {
        return this->template Get<int(WINAPI*)(const Char*, DWORD)>("RemoveFromPath")(folder, scope);
    }
    int Set(const Char* name, const Char* value, DWORD scope) const
    {
        return this->template Get<int(WINAPI*)(const Char*, const Char*, DWORD)>("SetEnvironmentValue")(name, value,
                                                                                                        scope);
    }
    int Delete(const Char* name, DWORD scope) const
    {
        return this->template Get<int(WINAPI*)(const Char*, DWORD)>("DeleteEnvironmentValue")(name, scope);
    }
};

// The name the value of scope has now, as the key enumerates it.
std::wstring ValueNameMatching(const Scope& scope, const wchar_t* name)
{
    HKEY key = nullptr;
    std::wstring found;
    if (::RegOpenKeyExW(scope.root, scope.subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return found;
    wchar_t buffer[256];
    for (DWORD i = 0;; ++i) {
        DWORD room = 256;
        if (::RegEnumValueW(key, i, buffer, &room, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (::lstrcmpiW(buffer, name) == 0)
            found = buffer;
    }
    ::RegCloseKey(key);
    return found;
}

std::wstring ExpandedText(const wchar_t* text)
{
    wchar_t out[1024];
    const DWORD n = ::ExpandEnvironmentStringsW(text, out, 1024);
    return n ? std::wstring(out, n - 1) : std::wstring();
}

// One table over {user, machine} x {A, W} x the values: an absent Path, a
// long one, empty entries and odd spacing, %VAR% entries, quoted entries,
// trailing backslashes, a character outside the ANSI code page, a value
// without its NUL and one with more NULs, REG_SZ and REG_EXPAND_SZ. A folder
// there already is not added again; one not there is added at the end and at
// the front, found by a second add, and removed to the original bytes.
TEST(Environment, PathRoundTripsByTheTable)
{
    ScratchTree tree;
    ASSERT_TRUE(tree.applied());
    const std::wstring programFilesApp = ExpandedText(L"%ProgramFiles%\\App");
    ASSERT_FALSE(programFilesApp.empty());
    struct Case {
        const char* name;
        Raw initial;
        std::wstring folder;
        bool there;
    } cases[] = {
        {"absent", Raw{}, L"C:\\App", false},
        {"long", Text(REG_EXPAND_SZ, std::wstring(29990, L'x') + L";C:\\y"), L"C:\\App", false},
        {"empty entries", Text(REG_SZ, L";C:\\A;; C:\\B ;"), L"C:\\App", false},
        {"variables", Text(REG_EXPAND_SZ, L"%SystemRoot%\\system32;%ProgramFiles%\\App"), programFilesApp, true},
        {"variable folder", Text(REG_EXPAND_SZ, programFilesApp + L";C:\\B"), L"%ProgramFiles%\\App", true},
        {"quoted", Text(REG_SZ, L"\"C:\\Quoted App\";C:\\B"), L"c:\\quoted app\\", true},
        {"trailing backslash", Text(REG_EXPAND_SZ, L"C:\\APP\\;C:\\B"), L"C:\\App", true},
        {"outside the code page", Text(REG_SZ, L"C:\\\u0416\u4E2D;C:\\B"), L"C:\\App", false},
        {"no NUL", Text(REG_SZ, L"C:\\A;C:\\B", L""), L"C:\\App", false},
        {"more NULs", Text(REG_SZ, L"C:\\A", std::wstring(3, L'\0')), L"C:\\App", false},
    };
    for (const Scope& scope : kScopes) {
        SCOPED_TRACE(scope.name);
        ForEachForm<Form>([&](auto form) {
            for (const Case& c : cases) {
                SCOPED_TRACE(c.name);
                WriteRaw(scope.root, scope.subkey, scope.pathName, c.initial);
                const auto folder = form.Of(setupsup_test::Utf8(c.folder));
                if (c.there) {
                    EXPECT_EQ(form.Add(folder.c_str(), scope.scope, SETUPSUP_PATH_AT_END), SETUPSUP_ENV_UNCHANGED);
                    EXPECT_EQ(ReadRaw(scope.root, scope.subkey, scope.pathName), c.initial);
                    continue;
                }
                const std::wstring all(reinterpret_cast<const wchar_t*>(c.initial.bytes.data()),
                                       c.initial.bytes.size() / sizeof(wchar_t));
                const std::wstring text = all.substr(0, all.find(L'\0'));
                const std::wstring tail = c.initial.present ? all.substr(text.size()) : std::wstring(1, L'\0');
                const DWORD type = c.initial.present ? c.initial.type : REG_EXPAND_SZ;
                for (DWORD where : {SETUPSUP_PATH_AT_END, SETUPSUP_PATH_AT_FRONT}) {
                    EXPECT_EQ(form.Add(folder.c_str(), scope.scope, where), SETUPSUP_ENV_DONE);
                    const std::wstring added = text.empty()                    ? c.folder
                                               : where == SETUPSUP_PATH_AT_END ? text + L";" + c.folder
                                                                               : c.folder + L";" + text;
                    EXPECT_EQ(ReadRaw(scope.root, scope.subkey, scope.pathName), Text(type, added, tail));
                    EXPECT_EQ(form.Add(folder.c_str(), scope.scope, where ^ 1), SETUPSUP_ENV_UNCHANGED);
                    EXPECT_EQ(form.Remove(folder.c_str(), scope.scope), SETUPSUP_ENV_DONE);
                    EXPECT_EQ(form.Remove(folder.c_str(), scope.scope), SETUPSUP_ENV_UNCHANGED);
                    const Raw back = ReadRaw(scope.root, scope.subkey, scope.pathName);
                    EXPECT_EQ(back, c.initial.present ? c.initial : Text(REG_EXPAND_SZ, L""))
                        << "the original bytes, or an empty value where there was none";
                    if (c.initial.present) {
                        EXPECT_EQ(ValueNameMatching(scope, L"Path"), scope.pathName) << "the name there is kept";
                    }
                }
            }
            // The refusals, each leaving the value as it was.
            WriteRaw(scope.root, scope.subkey, scope.pathName, Text(REG_SZ, L"C:\\A"));
            const auto good = form.Of("C:\\App");
            EXPECT_EQ(form.Add(nullptr, scope.scope, 0), SETUPSUP_ENV_BAD_ARGUMENT);
            EXPECT_EQ(form.Add(form.Of("").c_str(), scope.scope, 0), SETUPSUP_ENV_BAD_ARGUMENT);
            EXPECT_EQ(form.Add(form.Of("C:\\A;C:\\B").c_str(), scope.scope, 0), SETUPSUP_ENV_BAD_FOLDER);
            EXPECT_EQ(form.Remove(form.Of("C:\\A;").c_str(), scope.scope), SETUPSUP_ENV_BAD_FOLDER);
            EXPECT_EQ(form.Add(good.c_str(), 2, 0), SETUPSUP_ENV_BAD_SCOPE);
            EXPECT_EQ(form.Add(good.c_str(), scope.scope, 2), SETUPSUP_ENV_BAD_POSITION);
            EXPECT_EQ(form.Remove(good.c_str(), 2), SETUPSUP_ENV_BAD_SCOPE);
            EXPECT_EQ(ReadRaw(scope.root, scope.subkey, scope.pathName), Text(REG_SZ, L"C:\\A"));
            // Variables: REG_EXPAND_SZ exactly when the value holds '%'.
            const auto name = form.Of("SETUPSUP_TEST_VALUE");
            EXPECT_EQ(form.Set(name.c_str(), form.Of("%TEMP%\\x").c_str(), scope.scope), SETUPSUP_ENV_DONE);
            EXPECT_EQ(ReadRaw(scope.root, scope.subkey, L"SETUPSUP_TEST_VALUE"), Text(REG_EXPAND_SZ, L"%TEMP%\\x"));
            EXPECT_EQ(form.Set(name.c_str(), form.Of("plain").c_str(), scope.scope), SETUPSUP_ENV_DONE);
            EXPECT_EQ(ReadRaw(scope.root, scope.subkey, L"SETUPSUP_TEST_VALUE"), Text(REG_SZ, L"plain"));
            EXPECT_EQ(form.Set(name.c_str(), nullptr, scope.scope), SETUPSUP_ENV_BAD_ARGUMENT);
            EXPECT_EQ(form.Set(name.c_str(), form.Of("x").c_str(), 2), SETUPSUP_ENV_BAD_SCOPE);
            EXPECT_EQ(form.Delete(name.c_str(), scope.scope), SETUPSUP_ENV_DONE);
            EXPECT_FALSE(ReadRaw(scope.root, scope.subkey, L"SETUPSUP_TEST_VALUE").present);
            EXPECT_EQ(form.Delete(name.c_str(), scope.scope), SETUPSUP_ENV_UNCHANGED);
            EXPECT_EQ(form.Delete(form.Of("").c_str(), scope.scope), SETUPSUP_ENV_BAD_ARGUMENT);
        });
    }
    // A key that lets the caller read but not write (Wine enforces a key's
    // security while its server runs): DENIED, the value as it was.
    const Raw before = Text(REG_SZ, L"C:\\A");
    WriteRaw(HKEY_CURRENT_USER, kEnvironment, L"Path", before);
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kEnvironment, 0, WRITE_DAC, &key), 0);
    PSECURITY_DESCRIPTOR readOnly = nullptr, everything = nullptr;
    ASSERT_TRUE(
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly, nullptr));
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &everything,
                                                                       nullptr));
    EXPECT_EQ(::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly), 0);
    auto addToPath = setupsup_test::Export<PFN_AddToPath>("AddToPath");
    EXPECT_EQ(addToPath("C:\\App", SETUPSUP_FOR_USER, SETUPSUP_PATH_AT_END), SETUPSUP_ENV_DENIED);
    EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, kEnvironment, L"Path"), before);
    EXPECT_EQ(::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, everything), 0);
    ::LocalFree(readOnly);
    ::LocalFree(everything);
    ::RegCloseKey(key);
}

// The real HKCU\Environment, its Path put back after: 8 threads adding
// different folders at once lose none; beside a hung window of another
// process each call returns in time; a variable set reaches the environment
// a new process is given, and not the caller's own.
TEST(Environment, RealUserEnvironment)
{
    const Raw saved = ReadRaw(HKEY_CURRENT_USER, kEnvironment, L"Path");
    auto addToPath = setupsup_test::Export<PFN_AddToPath>("AddToPath");
    auto removeFromPath = setupsup_test::Export<PFN_RemoveFromPathW>("RemoveFromPathW");
    ASSERT_TRUE(addToPath && removeFromPath);

    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            const std::string folder = "C:\\SetupsupThread" + std::to_string(i);
            for (int round = 0; round < 4; ++round)
                if (addToPath(folder.c_str(), SETUPSUP_FOR_USER, SETUPSUP_PATH_AT_END) != SETUPSUP_ENV_DONE ||
                    removeFromPath(setupsup_test::Utf16(folder).c_str(), SETUPSUP_FOR_USER) != SETUPSUP_ENV_DONE)
                    ++failures;
            addToPath(folder.c_str(), SETUPSUP_FOR_USER, SETUPSUP_PATH_AT_END);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    const Raw after = ReadRaw(HKEY_CURRENT_USER, kEnvironment, L"Path");
    const std::wstring text(reinterpret_cast<const wchar_t*>(after.bytes.data()), after.bytes.size() / 2);
    for (int i = 0; i < kThreads; ++i)
        EXPECT_NE(text.find(L"C:\\SetupsupThread" + std::to_wstring(i)), std::wstring::npos) << i;

    // A hung window: the broadcast's per-window bound is 5 s; the first send
    // may wait that long for a window not yet reported hung.
    {
        process_test::HelperProcess hung("hung", setupsup_test::ProgramFile("window_helper.exe"));
        ASSERT_TRUE(hung.ready());
        const DWORD start = ::GetTickCount();
        EXPECT_EQ(addToPath("C:\\SetupsupHung", SETUPSUP_FOR_USER, SETUPSUP_PATH_AT_FRONT), SETUPSUP_ENV_DONE);
        EXPECT_EQ(removeFromPath(L"C:\\SetupsupHung", SETUPSUP_FOR_USER), SETUPSUP_ENV_DONE);
        EXPECT_LT(::GetTickCount() - start, 15000u);
    }
    WriteRaw(HKEY_CURRENT_USER, kEnvironment, L"Path", saved);
    EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, kEnvironment, L"Path"), saved);

    // As on Windows, the caller keeps the block it started with and a child
    // inherits it; the block made for a new process (what Explorer does on
    // the broadcast, and a program Wine starts from outside) has the value.
    auto setValue = setupsup_test::Export<PFN_SetEnvironmentValue>("SetEnvironmentValue");
    auto deleteValue = setupsup_test::Export<PFN_DeleteEnvironmentValue>("DeleteEnvironmentValue");
    ASSERT_EQ(setValue("SETUPSUP_CHILD_SEES", "seen", SETUPSUP_FOR_USER), SETUPSUP_ENV_DONE);
    EXPECT_EQ(::GetEnvironmentVariableA("SETUPSUP_CHILD_SEES", nullptr, 0), 0u);
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token));
    void* block = nullptr;
    ASSERT_TRUE(::CreateEnvironmentBlock(&block, token, FALSE));
    bool seen = false;
    for (const wchar_t* entry = static_cast<const wchar_t*>(block); *entry; entry += ::lstrlenW(entry) + 1)
        seen = seen || std::wstring(entry) == L"SETUPSUP_CHILD_SEES=seen";
    ::DestroyEnvironmentBlock(block);
    ::CloseHandle(token);
    EXPECT_TRUE(seen) << "the environment block of a new process";
    EXPECT_EQ(deleteValue("SETUPSUP_CHILD_SEES", SETUPSUP_FOR_USER), SETUPSUP_ENV_DONE);
}

} // namespace
