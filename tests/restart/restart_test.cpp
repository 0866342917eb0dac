// DeleteInUseFile, ReplaceInUseFile and IsRebootPending through the DLL, on
// real files held open without sharing by real child processes (of this
// program's architecture and, in the 64-bit prefix, of the other), against
// the machine's real list of operations for the next restart. Wine carries
// that list out whenever a Wine server starts (wineboot); `wineboot -r`
// does it on demand, which is the restart these tests simulate. Every test
// puts the list back exactly as it found it.
//
// Wine, measured (8.0): a held file's delete and an open for deletion fail
// with 32, as on Windows; a rename over it with 5 (its server refuses to
// replace an open file). The list ends with one more NUL after the last
// entry, as Windows writes it.
//
// The same program runs again as Windows 98 (restart_win98_test, x86 only),
// where the DLL arranges in WININIT.INI instead: each check names what it
// expects of which family.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "setupsup.h"
#include "tests/common/test_support.h"
#include "tests/files/files_test_support.h"
#include "tests/process/helper_process.h"

using namespace setupsup_test;

namespace {

constexpr wchar_t kManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kManagerA[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPending[] = L"PendingFileRenameOperations";
constexpr REGSAM kNativeView = KEY_WOW64_64KEY;

bool Win98Mode() { return (::GetVersion() & 0x80000000u) != 0; }

// path as this program's own calls take it at any length (the extended form
// past MAX_PATH), so that what they see does not rest on what is tested.
std::wstring Reach(const std::wstring& path)
{
    return path.size() + 12 >= MAX_PATH && path.rfind(L"\\\\?\\", 0) != 0 ? L"\\\\?\\" + path : path;
}

std::string Ansi(const std::wstring& text)
{
    std::string out(text.size() * 2 + 1, '\0');
    out.resize(static_cast<size_t>(::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(),
                                                         static_cast<int>(out.size()), nullptr, nullptr)) -
               1);
    return out;
}

// A value's type and bytes; exists false for a missing value.
struct Value {
    bool exists = false;
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const Value&) const = default;
};

Value ReadValue(const wchar_t* path, const wchar_t* name)
{
    Value value;
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | kNativeView, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        value.exists = ::RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
        value.data.resize(size);
    }
    ::RegCloseKey(key);
    return value;
}

void WriteValue(const wchar_t* path, const wchar_t* name, const Value& value)
{
    HKEY key;
    ASSERT_EQ(
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | kNativeView, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    if (value.exists)
        ::RegSetValueExW(key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    else
        ::RegDeleteValueW(key, name);
    ::RegCloseKey(key);
}

// The pending list's strings, in order ("" for a delete's second half).
std::vector<std::wstring> PendingEntries()
{
    const Value value = ReadValue(kManager, kPending);
    std::vector<std::wstring> entries;
    const auto* text = reinterpret_cast<const wchar_t*>(value.data.data());
    std::wstring entry;
    for (size_t i = 0; i < value.data.size() / sizeof(wchar_t); ++i) {
        if (text[i]) {
            entry += text[i];
            continue;
        }
        entries.push_back(entry);
        entry.clear();
    }
    if (entries.size() % 2 == 1 && entries.back().empty())
        entries.pop_back(); // the list's closing NUL
    return entries;
}

// A file's bytes, or absent.
struct FileState {
    bool exists = false;
    std::vector<BYTE> bytes;
    bool operator==(const FileState&) const = default;
};

FileState StateOf(const std::wstring& path)
{
    FileState state;
    HANDLE file =
        ::CreateFileW(Reach(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return state;
    state.exists = true;
    BYTE chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        state.bytes.insert(state.bytes.end(), chunk, chunk + got);
    ::CloseHandle(file);
    return state;
}

void Write(const std::wstring& path, const std::string& text)
{
    HANDLE file = ::CreateFileW(Reach(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf8(path);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
}

// The names of folder's files (not its folders).
std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Reach(folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

// The copy ReplaceInUseFile made in folder (a name "~ssXXXXX.tmp"), or "".
std::wstring CopyIn(const std::wstring& folder)
{
    for (const std::wstring& name : FilesIn(folder))
        if (name.rfind(L"~ss", 0) == 0 && name.size() == 12)
            return folder + L"\\" + name;
    return L"";
}

// WININIT.INI's bytes, put back (or removed) when the object goes, and
// those of WININIT.BAK, which Wine's restart makes of it; Lines(): its
// [rename] section as the profile calls read it.
class WininitGuard {
public:
    WininitGuard()
    {
        wchar_t folder[MAX_PATH];
        ::GetWindowsDirectoryW(folder, MAX_PATH);
        for (const wchar_t* name : {L"\\WININIT.INI", L"\\WININIT.BAK"})
            saved_.push_back({std::wstring(folder) + name, {}});
        for (auto& [path, state] : saved_)
            state = StateOf(path);
    }
    ~WininitGuard()
    {
        for (const auto& [path, state] : saved_) {
            if (state.exists)
                Write(path, std::string(state.bytes.begin(), state.bytes.end()));
            else
                ::DeleteFileW(path.c_str());
        }
    }
    std::vector<std::string> Lines() const
    {
        char section[8192] = {};
        std::vector<std::string> lines;
        ::GetPrivateProfileSectionA("rename", section, sizeof section, Ansi(saved_.front().first).c_str());
        for (const char* line = section; *line; line += lines.back().size() + 1)
            lines.emplace_back(line);
        return lines;
    }

private:
    std::vector<std::pair<std::wstring, FileState>> saved_;
};

// HKLM\\path made in view for the life of the object: then it and every
// parent key its creation made are taken away again.
class MadeKey {
public:
    MadeKey(const std::wstring& path, REGSAM view) : view_(view)
    {
        for (size_t at = path.find(L'\\');; at = path.find(L'\\', at + 1)) {
            const std::wstring upTo = path.substr(0, at);
            HKEY key;
            if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, upTo.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS)
                ::RegCloseKey(key);
            else
                made_.insert(made_.begin(), upTo); // the deepest first
            if (at == std::wstring::npos)
                break;
        }
        HKEY key;
        EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                    &key, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    ~MadeKey()
    {
        for (const std::wstring& key : made_)
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view_, 0);
    }

private:
    REGSAM view_;
    std::vector<std::wstring> made_;
};

// The machine's pending list, put back exactly as it was when the object goes.
class PendingListGuard {
public:
    PendingListGuard() : saved_(ReadValue(kManager, kPending)) {}
    ~PendingListGuard() { WriteValue(kManager, kPending, saved_); }

private:
    Value saved_;
};

// The file path held open for reading without sharing by a child process
// (helper: a program of tests/process) until Release.
class HeldByChild {
public:
    HeldByChild(const std::wstring& path, const std::string& helper) : child_("sleep", helper)
    {
        HANDLE file = ::CreateFileW(Reach(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        HANDLE inChild = nullptr;
        if (file != INVALID_HANDLE_VALUE && child_.ready())
            held_ = ::DuplicateHandle(::GetCurrentProcess(), file, child_.process(), &inChild, 0, FALSE,
                                      DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE) != FALSE;
        else if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
        // Only the child holds it now: this process is refused as anyone is.
        HANDLE again = ::CreateFileW(Reach(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        held_ = held_ && again == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
        if (again != INVALID_HANDLE_VALUE)
            ::CloseHandle(again);
    }
    bool held() const { return held_; }
    void Release() { child_.Stop(); }

private:
    process_test::HelperProcess child_;
    bool held_ = false;
};

// The helper of this program's architecture and, in the 64-bit prefix, of
// the other (a 32-bit system runs no 64-bit process).
std::vector<std::string> Holders()
{
    std::vector<std::string> holders = {ProgramFile("ZorbProcHelper.exe")};
    if (sizeof(void*) == 8)
        holders.push_back(ProgramFile("ZorbOtherHelper32.exe"));
    else if (RunsUnderWow64())
        holders.push_back(ProgramFile("ZorbOtherHelper64.exe"));
    return holders;
}

// The restart as Wine makes it: `wineboot -r` carries out the pending list
// (and, in Wine, WININIT.INI's [rename] section) and removes it. Once in a
// full run of the suite (Wine 8, 64-bit prefix) wineboot ended with
// 0xFFFFFFFF within two seconds, writing nothing, and did nothing; it is run
// again then, at most three times in all. What the restart did is checked
// by the callers either way.
void SimulateRestart()
{
    constexpr int kAttempts = 3;
    DWORD status = 0;
    std::string out, err;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        status = RunProgram("wineboot.exe -r", "", &out, &err);
        if (status == 0)
            return;
        ::Sleep(1000);
    }
    FAIL() << "wineboot -r ended with " << status << " " << kAttempts << " times: " << err;
}

// The name each case's files get: ASCII for the ANSI export, outside the
// code page for the W twin, and for the W twin once more inside folders
// that take the path past MAX_PATH (plain, and in the extended form).
enum class Naming { kAscii, kForeign, kLong, kLongExtended };

std::wstring CaseFolder(const ScratchDir& dir, int index, Naming naming)
{
    std::wstring folder = CodePageToWide(CP_ACP, dir.path()) + L"\\c" + std::to_wstring(index);
    if (naming == Naming::kForeign)
        folder += std::wstring(L"-") + kForeignName;
    EXPECT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    if (naming == Naming::kLong || naming == Naming::kLongExtended) {
        for (int level = 0; level < 3; ++level) {
            folder += L"\\" + std::wstring(90, static_cast<wchar_t>(L'a' + level));
            EXPECT_TRUE(::CreateDirectoryW(Reach(folder).c_str(), nullptr));
        }
        EXPECT_GT(folder.size(), static_cast<size_t>(MAX_PATH));
    }
    return folder;
}

// What the caller passes for path.
std::wstring Passed(const std::wstring& path, Naming naming)
{
    return naming == Naming::kLongExtended ? L"\\\\?\\" + path : path;
}

// The system's form of path in the pending list.
std::wstring InList(const std::wstring& path) { return L"\\??\\" + path; }

std::string ShortName(const std::wstring& path)
{
    char name[MAX_PATH] = {};
    ::GetShortPathNameA(Ansi(path).c_str(), name, MAX_PATH);
    return name;
}

const Naming kNamings[] = {Naming::kAscii, Naming::kForeign, Naming::kLong, Naming::kLongExtended};

// Calls body(c, folder, naming, holder) for each naming this family has (the
// Windows 95 family has no long paths), each case, and, for a case whose
// file is held, each holder program (holder empty for the others); each run
// in a folder of its own, named as the naming says.
template <typename Case, size_t N, typename Body>
void ForEachRun(const ScratchDir& dir, const Case (&cases)[N], Body body)
{
    int index = 0;
    for (Naming naming : kNamings) {
        if (Win98Mode() && (naming == Naming::kLong || naming == Naming::kLongExtended))
            continue;
        for (const Case& c : cases)
            for (const std::string& holder : Holders()) {
                if (!c.held && holder != Holders().front())
                    continue;
                SCOPED_TRACE(std::string(c.what) + (c.held ? " by " + holder.substr(holder.rfind('\\') + 1) : "") +
                             ", run " + std::to_string(index));
                body(c, CaseFolder(dir, index++, naming), naming, c.held ? holder : std::string());
            }
    }
}

// The case's result in this family: on the Windows 95 family a W name
// outside the code page gives NOT_FOUND, and nothing is opened.
template <typename Case>
int Expected(const Case& c, Naming naming)
{
    if (Win98Mode() && naming == Naming::kForeign)
        return SETUPSUP_INUSE_NOT_FOUND;
    return Win98Mode() ? c.win98 : c.nt;
}

// The ANSI export for ASCII names, else its W twin, called with paths.
template <typename AnsiFn, typename WideFn, typename... Paths>
int CallForm(AnsiFn ansi, WideFn wide, Naming naming, const Paths&... paths)
{
    return naming == Naming::kAscii ? ansi(Ansi(paths).c_str()...) : wide(Passed(paths, naming).c_str()...);
}

// Lets every holder go and restarts; then the list is empty and nothing waits.
void ReleaseAndRestart(std::vector<std::unique_ptr<HeldByChild>>& holders)
{
    for (auto& holder : holders)
        holder->Release();
    SimulateRestart();
    EXPECT_TRUE(PendingEntries().empty()) << "the restart carried the list out";
    EXPECT_EQ(Export<PFN_IsRebootPending>("IsRebootPending")(), SETUPSUP_REBOOT_NOT_PENDING)
        << "nothing waits after the restart";
}

// The bad paths every path argument refuses with BAD_PATH.
const wchar_t* const kBadPaths[] = {L"", L"relative.bin", L"C:drive-relative.bin", L"\\root-relative.bin"};

TEST(IsRebootPending, EachSourceOfAPendingRestart)
{
    auto pending = Export<PFN_IsRebootPending>("IsRebootPending");
    ASSERT_NE(pending, nullptr);
    WininitGuard wininit;
    PendingListGuard list;
    const wchar_t* servicing = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing";
    const wchar_t* update = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update";
    const Value saved2 = ReadValue(kManager, L"PendingFileRenameOperations2");
    const Value entry{true, REG_MULTI_SZ, {'\\', 0, '?', 0, '?', 0, '\\', 0, 'x', 0, 0, 0, 0, 0, 0, 0}};
    const Value empty{true, REG_MULTI_SZ, {0, 0}};
    // Each source set, checked, and taken away again.
    struct Source {
        const char* what;
        std::function<void()> set, clear;
        int nt, win98;
    };
    std::unique_ptr<MadeKey> made;
    auto key = [&made](const std::wstring& path, REGSAM view) {
        return [&made, path, view] { made = std::make_unique<MadeKey>(path, view); };
    };
    auto unkey = [&made] { made.reset(); };
    const std::wstring rebootPending = std::wstring(servicing) + L"\\RebootPending";
    const std::wstring rebootRequired = std::wstring(update) + L"\\RebootRequired";
    const Source sources[] = {
        {"nothing", [] {}, [] {}, 0, 0},
        {"a file rename", [&] { WriteValue(kManager, kPending, entry); }, [&] { WriteValue(kManager, kPending, {}); },
         1, 0},
        {"an empty list", [&] { WriteValue(kManager, kPending, empty); }, [&] { WriteValue(kManager, kPending, {}); },
         0, 0},
        {"a servicing rename", [&] { WriteValue(kManager, L"PendingFileRenameOperations2", entry); },
         [&] { WriteValue(kManager, L"PendingFileRenameOperations2", saved2); }, 1, 0},
        {"component servicing", key(rebootPending, kNativeView), unkey, 1, 0},
        {"Windows Update", key(rebootRequired, kNativeView), unkey, 1, 0},
        // The 32-bit view's copy of the key is not the system's: the 32-bit
        // DLL under WoW64 reads the 64-bit view too (in the 32-bit prefix
        // the two views are one key).
        {"component servicing, 32-bit view only", key(rebootPending, KEY_WOW64_32KEY), unkey,
         sizeof(void*) == 8 || RunsUnderWow64() ? 0 : 1, 0},
        {"a WININIT.INI rename", [] { ::WritePrivateProfileStringA("rename", "NUL", "C:\\X.TMP", "wininit.ini"); },
         [] { ::WritePrivateProfileStringA("rename", nullptr, nullptr, "wininit.ini"); }, 0, 1},
    };
    for (const Source& source : sources) {
        source.set();
        EXPECT_EQ(pending(), Win98Mode() ? source.win98 : source.nt)
            << source.what << (Win98Mode() ? ": the Windows 95 family reads WININIT.INI only" : "");
        source.clear();
    }
    EXPECT_EQ(pending(), SETUPSUP_REBOOT_NOT_PENDING) << "every source taken away";
}

// One case of DeleteInUseFile: how its file is made, whether a child
// holds it, and the results of each family.
struct DeleteCase {
    const char* what;
    enum { kFile, kRunning, kMissing, kFolder, kReadOnly } setup;
    bool held;
    int nt, win98;
};

TEST(DeleteInUseFile, NowOrAtTheRestartOrNothingChanged)
{
    auto del = Export<PFN_DeleteInUseFile>("DeleteInUseFile");
    auto delW = Export<PFN_DeleteInUseFileW>("DeleteInUseFileW");
    ASSERT_TRUE(del && delW);
    PendingListGuard list;
    WininitGuard wininit;
    ASSERT_TRUE(PendingEntries().empty()) << "the prefix has operations of its own waiting; not carrying them out";
    ScratchDir dir;
    const DeleteCase cases[] = {
        {"not held", DeleteCase::kFile, false, SETUPSUP_INUSE_DONE, SETUPSUP_INUSE_DONE},
        {"held", DeleteCase::kFile, true, SETUPSUP_INUSE_AT_RESTART, SETUPSUP_INUSE_AT_RESTART},
        // The image of a running program: the system refuses its delete with
        // access denied (5), not with a sharing violation.
        {"a running program", DeleteCase::kRunning, true, SETUPSUP_INUSE_AT_RESTART, SETUPSUP_INUSE_AT_RESTART},
        {"missing", DeleteCase::kMissing, false, SETUPSUP_INUSE_NOT_FOUND, SETUPSUP_INUSE_NOT_FOUND},
        {"a folder", DeleteCase::kFolder, false, SETUPSUP_INUSE_NOT_A_FILE, SETUPSUP_INUSE_NOT_A_FILE},
        {"read-only", DeleteCase::kReadOnly, false, SETUPSUP_INUSE_READ_ONLY, SETUPSUP_INUSE_READ_ONLY},
    };
    std::vector<std::wstring> arranged, expected; // the files, the list's entries so far
    std::vector<std::string> expectedLines;
    std::vector<std::unique_ptr<HeldByChild>> holders;
    std::vector<std::unique_ptr<process_test::HelperProcess>> running;
    ForEachRun(
        dir, cases, [&](const DeleteCase& c, const std::wstring& folder, Naming naming, const std::string& holder) {
            const std::wstring path = folder + L"\\in use.exe";
            if (c.setup == DeleteCase::kRunning) {
                if (naming != Naming::kAscii)
                    return; // the helper starts programs by ANSI names
                ASSERT_TRUE(::CopyFileA(holder.c_str(), Ansi(path).c_str(), FALSE));
                running.push_back(std::make_unique<process_test::HelperProcess>("sleep", Ansi(path)));
                ASSERT_TRUE(running.back()->ready());
            } else if (c.setup == DeleteCase::kFolder)
                ASSERT_TRUE(::CreateDirectoryW(Reach(path).c_str(), nullptr));
            else if (c.setup != DeleteCase::kMissing)
                Write(path, "old");
            if (c.setup == DeleteCase::kReadOnly)
                ::SetFileAttributesW(Reach(path).c_str(), FILE_ATTRIBUTE_READONLY);
            if (c.setup == DeleteCase::kFile && c.held) {
                holders.push_back(std::make_unique<HeldByChild>(path, holder));
                ASSERT_TRUE(holders.back()->held());
            }
            const FileState before = StateOf(path);
            const Value listBefore = ReadValue(kManager, kPending);
            const int rc = CallForm(del, delW, naming, path);
            EXPECT_EQ(rc, Expected(c, naming));
            if (rc < 0) {
                EXPECT_EQ(ReadValue(kManager, kPending), listBefore) << "a failure leaves the list byte for byte";
            }
            if (rc == SETUPSUP_INUSE_AT_RESTART) {
                arranged.push_back(path);
                if (Win98Mode())
                    expectedLines.push_back("NUL=" + ShortName(path));
                else
                    expected.insert(expected.end(), {InList(path), L""});
            }
            EXPECT_EQ(StateOf(path), rc == SETUPSUP_INUSE_DONE ? FileState{} : before) << "deleted now, or as it was";
            EXPECT_EQ(PendingEntries(), expected) << "exactly the system's entries: the path, then an empty one";
            EXPECT_EQ(wininit.Lines(), expectedLines) << "the Windows 95 family's: NUL=<short path>";
        });
    for (const wchar_t* bad : kBadPaths) {
        EXPECT_EQ(del(Ansi(bad).c_str()), SETUPSUP_INUSE_BAD_PATH) << Utf8(bad);
        EXPECT_EQ(delW(bad), SETUPSUP_INUSE_BAD_PATH) << Utf8(bad);
    }
    EXPECT_EQ(del(nullptr), SETUPSUP_INUSE_BAD_PATH);
    EXPECT_EQ(delW(nullptr), SETUPSUP_INUSE_BAD_PATH);
    EXPECT_EQ(PendingEntries(), expected) << "bad paths arrange nothing";

    ASSERT_FALSE(arranged.empty());
    EXPECT_EQ(Export<PFN_IsRebootPending>("IsRebootPending")(), SETUPSUP_REBOOT_PENDING);
    for (auto& program : running)
        program->Stop();
    ReleaseAndRestart(holders);
    for (const std::wstring& path : arranged)
        EXPECT_FALSE(StateOf(path).exists) << Utf8(path) << ": deleted at the restart";
}

// One case of ReplaceInUseFile.
struct ReplaceCase {
    const char* what;
    enum { kTarget, kNoTarget, kNoSource, kNoFolder, kTargetFolder, kSourceFolder, kReadOnly, kNoRights } setup;
    bool held;
    int nt, win98;
};

TEST(ReplaceInUseFile, NowOrAtTheRestartOrNothingChanged)
{
    auto replace = Export<PFN_ReplaceInUseFile>("ReplaceInUseFile");
    auto replaceW = Export<PFN_ReplaceInUseFileW>("ReplaceInUseFileW");
    ASSERT_TRUE(replace && replaceW);
    PendingListGuard list;
    WininitGuard wininit;
    ASSERT_TRUE(PendingEntries().empty()) << "the prefix has operations of its own waiting; not carrying them out";
    ScratchDir dir;
    const ReplaceCase cases[] = {
        {"not held", ReplaceCase::kTarget, false, SETUPSUP_INUSE_DONE, SETUPSUP_INUSE_DONE},
        {"held", ReplaceCase::kTarget, true, SETUPSUP_INUSE_AT_RESTART, SETUPSUP_INUSE_AT_RESTART},
        {"no target yet", ReplaceCase::kNoTarget, false, SETUPSUP_INUSE_DONE, SETUPSUP_INUSE_DONE},
        {"held, no source", ReplaceCase::kNoSource, true, SETUPSUP_INUSE_NOT_FOUND, SETUPSUP_INUSE_NOT_FOUND},
        {"no target folder", ReplaceCase::kNoFolder, false, SETUPSUP_INUSE_NOT_FOUND, SETUPSUP_INUSE_NOT_FOUND},
        {"target a folder", ReplaceCase::kTargetFolder, false, SETUPSUP_INUSE_NOT_A_FILE, SETUPSUP_INUSE_NOT_A_FILE},
        {"source a folder", ReplaceCase::kSourceFolder, false, SETUPSUP_INUSE_NOT_A_FILE, SETUPSUP_INUSE_NOT_A_FILE},
        {"target read-only", ReplaceCase::kReadOnly, false, SETUPSUP_INUSE_READ_ONLY, SETUPSUP_INUSE_READ_ONLY},
        // The session manager's key readable only, as for a caller without
        // administrator rights (Wine's default caller may write it). Under
        // it Wine's MoveFileExW fails without setting a last error (Windows
        // gives 5), so the DLL asks for the key's write access first. The
        // Windows 95 family writes WININIT.INI instead.
        {"held, list not writable", ReplaceCase::kNoRights, true, SETUPSUP_INUSE_NOT_ARRANGED,
         SETUPSUP_INUSE_AT_RESTART},
    };
    std::vector<std::pair<std::wstring, std::wstring>> arranged; // the targets and their folders
    std::vector<std::wstring> expected;
    std::vector<std::string> expectedLines;
    std::vector<std::unique_ptr<HeldByChild>> holders;
    ForEachRun(
        dir, cases, [&](const ReplaceCase& c, const std::wstring& folder, Naming naming, const std::string& holder) {
            const std::wstring source = folder + L"\\new.bin";
            const std::wstring target =
                folder + (c.setup == ReplaceCase::kNoFolder ? L"\\none\\in use.bin" : L"\\in use.bin");
            if (c.setup == ReplaceCase::kSourceFolder)
                ASSERT_TRUE(::CreateDirectoryW(Reach(source).c_str(), nullptr));
            else if (c.setup != ReplaceCase::kNoSource)
                Write(source, "new bytes");
            if (c.setup == ReplaceCase::kTargetFolder)
                ASSERT_TRUE(::CreateDirectoryW(Reach(target).c_str(), nullptr));
            else if (c.setup != ReplaceCase::kNoTarget && c.setup != ReplaceCase::kNoFolder)
                Write(target, "old");
            if (c.setup == ReplaceCase::kReadOnly)
                ::SetFileAttributesW(Reach(target).c_str(), FILE_ATTRIBUTE_READONLY);
            if (c.held) {
                holders.push_back(std::make_unique<HeldByChild>(target, holder));
                ASSERT_TRUE(holders.back()->held());
            }
            const FileState before = StateOf(target);
            const std::vector<std::wstring> filesBefore = FilesIn(folder);
            const Value listBefore = ReadValue(kManager, kPending);
            int rc = 0;
            {
                std::unique_ptr<files_test::KeyDaclOverride> readOnlyList;
                // (The Windows 95 family has no key security: nothing to override.)
                if (c.setup == ReplaceCase::kNoRights && !Win98Mode()) {
                    readOnlyList =
                        std::make_unique<files_test::KeyDaclOverride>(HKEY_LOCAL_MACHINE, kManagerA, "D:(A;;KR;;;WD)");
                    ASSERT_TRUE(readOnlyList->applied());
                }
                rc = CallForm(replace, replaceW, naming, source, target);
            }
            EXPECT_EQ(rc, Expected(c, naming));
            if (rc < 0) {
                EXPECT_EQ(ReadValue(kManager, kPending), listBefore) << "a failure leaves the list byte for byte";
            }
            EXPECT_EQ(StateOf(target), rc == SETUPSUP_INUSE_DONE ? StateOf(source) : before)
                << "replaced now, or as it was until the restart";
            const std::vector<std::wstring> filesAfter = FilesIn(folder);
            if (rc == SETUPSUP_INUSE_AT_RESTART) {
                // The copy beside the target: the one new file of its folder.
                ASSERT_EQ(filesAfter.size(), filesBefore.size() + 1);
                const std::wstring copy = CopyIn(folder);
                EXPECT_EQ(StateOf(copy), StateOf(source)) << "the copy beside the target: " << Utf8(copy);
                arranged.emplace_back(target, folder);
                if (Win98Mode())
                    expectedLines.insert(expectedLines.end(),
                                         {ShortName(target) + "=" + ShortName(copy), "NUL=" + ShortName(copy)});
                else
                    expected.insert(expected.end(), {InList(copy), L"!" + InList(target), InList(copy), L""});
            } else {
                EXPECT_EQ(CopyIn(folder), L"") << "no copy left beside the target";
            }
            EXPECT_EQ(PendingEntries(), expected) << "exactly the system's entries: the rename, then the copy's delete";
            EXPECT_EQ(wininit.Lines(), expectedLines) << "the Windows 95 family's: <target>=<copy>, NUL=<copy>";
        });
    const std::wstring some = CodePageToWide(CP_ACP, dir.File("some.bin"));
    Write(some, "some");
    for (const wchar_t* bad : kBadPaths) {
        EXPECT_EQ(replace(Ansi(bad).c_str(), Ansi(some).c_str()), SETUPSUP_INUSE_BAD_PATH) << Utf8(bad);
        EXPECT_EQ(replaceW(some.c_str(), bad), SETUPSUP_INUSE_BAD_PATH) << Utf8(bad);
    }
    EXPECT_EQ(replace(nullptr, Ansi(some).c_str()), SETUPSUP_INUSE_BAD_PATH);
    EXPECT_EQ(replaceW(some.c_str(), nullptr), SETUPSUP_INUSE_BAD_PATH);
    EXPECT_EQ(PendingEntries(), expected) << "bad paths arrange nothing";

    ASSERT_FALSE(arranged.empty());
    EXPECT_EQ(Export<PFN_IsRebootPending>("IsRebootPending")(), SETUPSUP_REBOOT_PENDING);
    ReleaseAndRestart(holders);
    for (const auto& [target, folder] : arranged) {
        EXPECT_EQ(StateOf(target), StateOf(folder + L"\\new.bin")) << Utf8(target) << ": replaced at the restart";
        EXPECT_EQ(CopyIn(folder), L"") << Utf8(folder) << ": no copy left after the restart";
    }
}

} // namespace
