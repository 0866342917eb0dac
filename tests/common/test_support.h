// Shared helpers of the Windows test programs: the DLL loaded by name as an
// installer loads it, exports looked up by their undecorated names, scratch
// folders and small file helpers.
#pragma once

#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame/entry_points.h"

namespace testing {
class Environment;
}

namespace setupsup_test {

// A fact of the run rather than of the library (the prefix, the locale, the
// user, a limit) that the tests of a program rely on, registered with
// testing::AddGlobalTestEnvironment(Precondition(check)): a fatal failure in
// check (ASSERT_..., FAIL) stops the program before its first test, with
// check's message. Every program also checks, this way, that it runs in the
// prefix wine-run names in SETUPSUP_WINEARCH (win64: under WoW64).
testing::Environment* Precondition(std::function<void()> check);

// setupsup.dll, loaded with LoadLibraryA from the test program's folder.
HMODULE Dll();

// The names in the export directory of a loaded DLL, in its order.
std::vector<std::string> ExportedNames(HMODULE dll);

// The export named name, as a pointer of type Fn; null if absent. Always
// through GetProcAddress, as an installer finds it (never through the test
// builds' entry resolver).
template <typename Fn>
Fn Export(const char* name)
{
    HMODULE dll = Dll();
    return dll ? setupsup::EntryAs<Fn>(::GetProcAddress(dll, name)) : nullptr;
}

// The folder of the running test program, with a trailing backslash: the
// build puts setupsup.dll, the helper programs and the fixtures there.
std::string ProgramFolder();
// ProgramFolder() followed by name.
std::string ProgramFile(const std::string& name);
// The base name of the running test program, as it was started.
std::string ProgramBaseName();

// bytes bytes of a fixed pattern; each seed gives another sequence, and no
// period divides the usual buffer sizes.
std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed);

// A fresh, empty folder under the temporary folder, removed with its
// contents when the object goes out of scope.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Writes bytes as the file name of dir and, for a timeSeed other than 0,
// gives it DistinctTimes(timeSeed); returns its path. The set-up of the tests
// that rewrite files and keep their times.
std::string MakeFile(const ScratchDir& dir, const std::string& name, const std::vector<uint8_t>& bytes,
                     int timeSeed = 0);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

struct FileTimes {
    FILETIME creation{}, lastAccess{}, lastWrite{};
};
// Reads the three times through a handle that shares everything.
bool GetTimes(const std::string& path, FileTimes* times);
// Sets the three times; returns false on failure.
bool SetTimes(const std::string& path, const FileTimes& times);
// The three times of path, as GetTimes reads them (a failure fails the test).
FileTimes TimesOf(const std::string& path);
// Fails the test unless path has the three times of expected, to 100 ns;
// what names the file in the messages (the path when empty).
void ExpectSameTimes(const std::string& path, const FileTimes& expected, const std::string& what = "");
// Distinct, odd (100 ns precise) times in the past, seeded by n.
FileTimes DistinctTimes(int n);
uint64_t Ticks(const FILETIME& t);

// True when this 32-bit process runs under WoW64: in the 64-bit prefix, as
// on every 64-bit Windows. A test whose expectation differs between the two
// prefixes states why in the check.
bool RunsUnderWow64();

// The limit on the size of the files this program may write, set by
// tests/common/run-file-size-limited.sh in SETUPSUP_FILE_SIZE_LIMIT; 0
// without one.
size_t FileSizeLimit();
// The precondition of the programs run with that limit: there is one, and a
// write past it fails.
void RequireFailingWritesPastTheFileSizeLimit();

// Runs commandLine (the program first) in folder (this process's current one
// when empty) and waits for it, ending it after timeoutMs: its exit status,
// or 0xFFFFFFFF when it could not start or was ended. Where out or err is
// given, the program's standard output or error is caught into it.
DWORD RunProgram(const std::string& commandLine, const std::string& folder = "", std::string* out = nullptr,
                 std::string* err = nullptr, DWORD timeoutMs = 60000);
// The same with a UTF-16 command line and folder (the ANSI one above is
// converted from the ANSI code page, as CreateProcessA converts it).
DWORD RunProgram(const std::wstring& commandLine, const std::wstring& folder, std::string* out = nullptr,
                 std::string* err = nullptr, DWORD timeoutMs = 60000);

// Another process (open_prober.exe) that opens path, sharing everything,
// again and again, from its start until the end of
// ExpectHeldOut(call, refused). That runs call, again while it gives
// `refused` (the prober held the file at the moment call opened it), and
// returns what the last run gave; it fails the test unless the prober tried
// while that run worked and every such attempt was refused: the call held
// path exclusively from its start to its end, not only for moments of it.
// (An attempt is judged only when it began after the first quarter of the
// run and ended before the last, so that the opening and closing of the
// file by the call itself, whose moments the prober cannot know, never
// count.)
class OpenProber {
public:
    explicit OpenProber(const std::string& path);
    ~OpenProber();
    OpenProber(const OpenProber&) = delete;
    OpenProber& operator=(const OpenProber&) = delete;
    int ExpectHeldOut(const std::function<int()>& call, int refused);

private:
    struct Attempt {
        LONGLONG began, ended;
        bool opened;
    };
    std::vector<Attempt> Stop();
    ScratchDir dir_;
    HANDLE ready_ = nullptr, stop_ = nullptr;
    PROCESS_INFORMATION child_{};
};

// UTF-16 from UTF-8 and back, and from a code page's bytes: the tests of
// the W exports write their names as UTF-8 literals.
std::wstring Utf16(const std::string& utf8);
std::string Utf8(const std::wstring& text);
std::wstring CodePageToWide(UINT codePage, const std::string& text);

// A name for the W exports that no ANSI code page but UTF-8 can spell:
// Polish, Cyrillic, CJK and U+1D11E (a surrogate pair).
inline constexpr wchar_t kForeignName[] = L"\u0141\u00F3d\u017A-\u041A\u043B\u044E\u0447-\u7530\u4E2D-\U0001D11E";

// A caller's output buffer of exactly size bytes that ends where an
// inaccessible page (PAGE_NOACCESS) begins, so that a write of one byte past
// it faults at once (for a W export's buffer of n characters: n *
// sizeof(wchar_t) bytes). Filled with 'x' when made.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    char* data() const { return data_; }
    // The buffer as the caller's int, char or wchar_t output.
    template <typename T>
    T* As() const
    {
        return reinterpret_cast<T*>(data_);
    }

private:
    void* region_ = nullptr;
    char* data_ = nullptr;
};

// Sets the user's short date picture for the life of the object, and puts
// back the one it found. Under Wine, SetLocaleInfoA is seen at once by the
// calling process (a value written straight to HKCU\Control
// Panel\International reaches only processes started later) and rewrites
// the date separator from the picture too; the setting stays in the prefix
// until a run in another locale writes that locale's values.
class UserShortDate {
public:
    UserShortDate();
    ~UserShortDate();
    UserShortDate(const UserShortDate&) = delete;
    UserShortDate& operator=(const UserShortDate&) = delete;
    bool Set(const std::string& picture);
    bool Set(const std::wstring& picture);

private:
    char old_[256] = {};
    bool saved_ = false;
};

// The number of handles this process has open, counted by the system
// (GetProcessHandleCount always reports 0 under Wine).
long CountProcessHandles();

} // namespace setupsup_test
