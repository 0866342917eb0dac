#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "frame/file_times.h"

namespace setupsup_test {

namespace {

class PreconditionEnvironment : public testing::Environment {
public:
    explicit PreconditionEnvironment(std::function<void()> check) : check_(std::move(check)) {}
    void SetUp() override { check_(); }

private:
    std::function<void()> check_;
};

// The suite runs once per prefix, and its WoW64 cases trust the prefix to
// be what the run says. A program started by hand, without wine-run, runs
// wherever it was started.
void RequireThePrefixTheRunNames()
{
    const char* arch = std::getenv("SETUPSUP_WINEARCH");
    if (!arch)
        return;
    // The 32-bit DLL runs under WoW64 in the 64-bit prefix; the 64-bit DLL
    // runs in no other.
    const bool prefix64 = std::string(arch) == "win64";
    ASSERT_TRUE(prefix64 || sizeof(void*) == 4) << "the 64-bit build runs in the 64-bit prefix only";
    ASSERT_EQ(RunsUnderWow64(), prefix64 && sizeof(void*) == 4)
        << "SETUPSUP_WINEARCH=" << arch << " names the prefix, but this process runs "
        << (RunsUnderWow64() ? "under WoW64" : "without WoW64");
}

// Every test program links this file (they all load the DLL through Dll()).
[[maybe_unused]] testing::Environment* const g_prefixPrecondition =
    testing::AddGlobalTestEnvironment(Precondition(RequireThePrefixTheRunNames));

} // namespace

testing::Environment* Precondition(std::function<void()> check)
{
    return new PreconditionEnvironment(std::move(check));
}

HMODULE Dll()
{
    static HMODULE dll = ::LoadLibraryA("setupsup.dll");
    if (!dll)
        ADD_FAILURE() << "LoadLibraryA(\"setupsup.dll\") failed with error " << ::GetLastError();
    return dll;
}

std::vector<std::string> ExportedNames(HMODULE dll)
{
    auto* base = reinterpret_cast<const BYTE*>(dll);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> names;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

static std::string ProgramPath()
{
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

std::string ProgramFolder()
{
    std::string path = ProgramPath();
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string ProgramFile(const std::string& name) { return ProgramFolder() + name; }

std::string ProgramBaseName()
{
    std::string path = ProgramPath();
    return path.substr(path.find_last_of('\\') + 1);
}

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed)
{
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(seed + i * 13 + i / 4099);
    return out;
}

// With the W functions: the tests of the W exports leave names outside the
// ANSI code page behind, which the A functions see only as '?'.
static void RemoveTree(const std::wstring& dir)
{
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(dir.c_str());
}

ScratchDir::ScratchDir()
{
    char temp[MAX_PATH];
    DWORD n = ::GetTempPathA(sizeof temp, temp);
    std::string base(temp, n);
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    static unsigned serial;
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "\\setupsup-test-%lu-%u", ::GetCurrentProcessId(), ++serial);
        path_ = base + name;
        if (::CreateDirectoryA(path_.c_str(), nullptr))
            break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create scratch folder " << path_;
            break;
        }
    }
}

ScratchDir::~ScratchDir() { RemoveTree(CodePageToWide(CP_ACP, path_)); }

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << "cannot create " << path;
    if (!bytes.empty()) {
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
}

FileTimes TimesOf(const std::string& path)
{
    FileTimes times;
    EXPECT_TRUE(GetTimes(path, &times)) << "cannot read the times of " << path;
    return times;
}

void ExpectSameTimes(const std::string& path, const FileTimes& expected, const std::string& what)
{
    const std::string name = what.empty() ? path : what;
    FileTimes now;
    ASSERT_TRUE(GetTimes(path, &now)) << "cannot read the times of " << path;
    EXPECT_EQ(Ticks(now.creation), Ticks(expected.creation)) << name << ": creation time";
    EXPECT_EQ(Ticks(now.lastAccess), Ticks(expected.lastAccess)) << name << ": last-access time";
    EXPECT_EQ(Ticks(now.lastWrite), Ticks(expected.lastWrite)) << name << ": last-write time";
}

std::string MakeFile(const ScratchDir& dir, const std::string& name, const std::vector<uint8_t>& bytes, int timeSeed)
{
    const std::string path = dir.File(name);
    WriteFileBytes(path, bytes);
    if (timeSeed != 0) {
        EXPECT_TRUE(SetTimes(path, DistinctTimes(timeSeed))) << path;
    }
    return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

static HANDLE OpenShared(const std::string& path, DWORD access)
{
    return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool GetTimes(const std::string& path, FileTimes* times)
{
    HANDLE h = OpenShared(path, GENERIC_READ);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = ::GetFileTime(h, &times->creation, &times->lastAccess, &times->lastWrite);
    ::CloseHandle(h);
    return ok != FALSE;
}

bool SetTimes(const std::string& path, const FileTimes& times)
{
    HANDLE h = OpenShared(path, GENERIC_READ | GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = ::SetFileTime(h, &times.creation, &times.lastAccess, &times.lastWrite);
    ::CloseHandle(h);
    return ok != FALSE;
}

uint64_t Ticks(const FILETIME& t) { return setupsup::FileTimeTicks(t); }

FileTimes DistinctTimes(int n)
{
    // 2001-02-03 in 100 ns units since 1601, moved by n days and odd offsets so
    // that a time rounded to seconds or microseconds would not compare equal.
    const uint64_t base = 126253152000000000ULL + static_cast<uint64_t>(n) * 864000000000ULL;
    FileTimes times;
    times.creation = setupsup::TicksToFileTime(base + 1234567);
    times.lastAccess = setupsup::TicksToFileTime(base + 2 * 36000000000ULL + 7654321);
    times.lastWrite = setupsup::TicksToFileTime(base + 36000000000ULL + 1111111);
    return times;
}

bool RunsUnderWow64()
{
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

size_t FileSizeLimit()
{
    const char* limit = std::getenv("SETUPSUP_FILE_SIZE_LIMIT");
    return limit ? std::strtoul(limit, nullptr, 10) : 0;
}

void RequireFailingWritesPastTheFileSizeLimit()
{
    const size_t limit = FileSizeLimit();
    ASSERT_GT(limit, 0u) << "this program runs with a file size limit (run-file-size-limited.sh)";
    ScratchDir dir;
    const std::string path = dir.File("full.bin");
    WriteFileBytes(path, std::vector<uint8_t>(limit, 1));
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    const BOOL wrote = ::WriteFile(file, "x", 1, &written, nullptr);
    ::CloseHandle(file);
    ASSERT_FALSE(wrote) << "a write past the file size limit of " << limit << " bytes must fail here";
}

namespace {

// A file a child process inherits as a standard handle.
HANDLE InheritableOutput(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

std::string BytesOf(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

std::wstring Utf16(const std::string& utf8) { return CodePageToWide(CP_UTF8, utf8); }

std::string Utf8(const std::wstring& text)
{
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                              nullptr);
    return utf8;
}

std::wstring CodePageToWide(UINT codePage, const std::string& text)
{
    const int chars = ::MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
    if (chars > 0)
        ::MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), wide.data(), chars);
    return wide;
}

// The ANSI command line as CreateProcessA would pass it on: converted from
// the ANSI code page.
DWORD RunProgram(const std::string& commandLine, const std::string& folder, std::string* out, std::string* err,
                 DWORD timeoutMs)
{
    return RunProgram(CodePageToWide(CP_ACP, commandLine), CodePageToWide(CP_ACP, folder), out, err, timeoutMs);
}

DWORD RunProgram(const std::wstring& commandLine, const std::wstring& folder, std::string* out, std::string* err,
                 DWORD timeoutMs)
{
    ScratchDir dir;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const bool catchOutput = out || err;
    if (catchOutput) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out ? InheritableOutput(dir.File("out")) : ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = err ? InheritableOutput(dir.File("err")) : ::GetStdHandle(STD_ERROR_HANDLE);
    }
    std::wstring line = commandLine;
    PROCESS_INFORMATION child{};
    DWORD status = 0xFFFFFFFF;
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, catchOutput, 0, nullptr,
                         folder.empty() ? nullptr : folder.c_str(), &startup, &child)) {
        if (::WaitForSingleObject(child.hProcess, timeoutMs) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(child.hProcess, &status);
        else
            ::TerminateProcess(child.hProcess, status);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
    }
    if (out) {
        ::CloseHandle(startup.hStdOutput);
        *out = BytesOf(dir.File("out"));
    }
    if (err) {
        ::CloseHandle(startup.hStdError);
        *err = BytesOf(dir.File("err"));
    }
    return status;
}

namespace {

LONGLONG CounterNow()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

OpenProber::OpenProber(const std::string& path)
{
    const std::string id = std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(CounterNow());
    const std::string ready = "setupsup-prober-ready-" + id, stop = "setupsup-prober-stop-" + id;
    ready_ = ::CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
    stop_ = ::CreateEventA(nullptr, TRUE, FALSE, stop.c_str());
    std::string line = "\"" + ProgramFile("open_prober.exe") + "\" \"" + path + "\" " + ready + " " + stop + " \"" +
                       dir_.File("log") + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!ready_ || !stop_ ||
        !::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child_)) {
        ADD_FAILURE() << "open_prober.exe did not start";
        return;
    }
    // It has made its first attempt, so it is running when the call starts.
    EXPECT_EQ(::WaitForSingleObject(ready_, 60000), WAIT_OBJECT_0) << "open_prober.exe never tried";
}

OpenProber::~OpenProber()
{
    Stop();
    if (ready_)
        ::CloseHandle(ready_);
    if (stop_)
        ::CloseHandle(stop_);
}

std::vector<OpenProber::Attempt> OpenProber::Stop()
{
    std::vector<Attempt> attempts;
    if (!child_.hProcess)
        return attempts;
    ::SetEvent(stop_);
    DWORD status = 0xFFFFFFFF;
    if (::WaitForSingleObject(child_.hProcess, 60000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(child_.hProcess, &status);
    else
        ::TerminateProcess(child_.hProcess, status);
    ::CloseHandle(child_.hThread);
    ::CloseHandle(child_.hProcess);
    child_ = {};
    EXPECT_EQ(status, 0u) << "open_prober.exe failed";
    if (FILE* log = std::fopen(dir_.File("log").c_str(), "r")) {
        long long began = 0, ended = 0;
        int opened = 0;
        while (std::fscanf(log, "%lld %lld %d", &began, &ended, &opened) == 3)
            attempts.push_back({began, ended, opened != 0});
        std::fclose(log);
    }
    return attempts;
}

int OpenProber::ExpectHeldOut(const std::function<int()>& call, int refused)
{
    LONGLONG start = 0, end = 0;
    int result = refused;
    for (int run = 0; run < 50 && result == refused; ++run) {
        start = CounterNow();
        result = call();
        end = CounterNow();
    }
    const LONGLONG from = start + (end - start) / 4, to = end - (end - start) / 4;
    int judged = 0, opened = 0;
    for (const Attempt& attempt : Stop()) {
        if (attempt.began < from || attempt.ended > to)
            continue;
        ++judged;
        opened += attempt.opened ? 1 : 0;
    }
    EXPECT_NE(result, refused) << "the call never had the file to itself";
    EXPECT_GE(judged, 3) << "too few attempts while the call ran to judge it (make the call longer)";
    EXPECT_EQ(opened, 0) << "another process opened the file during the call, " << opened << " times of " << judged;
    return result;
}

GuardedBuffer::GuardedBuffer(size_t size)
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t dataPages = (size + page - 1) / page;
    region_ = ::VirtualAlloc(nullptr, (dataPages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!region_)
        return;
    char* guard = static_cast<char*>(region_) + dataPages * page;
    DWORD old = 0;
    if (!::VirtualProtect(guard, page, PAGE_NOACCESS, &old))
        return;
    data_ = guard - size;
    std::memset(data_, 'x', size);
}

GuardedBuffer::~GuardedBuffer()
{
    if (region_)
        ::VirtualFree(region_, 0, MEM_RELEASE);
}

UserShortDate::UserShortDate()
{
    saved_ = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, old_, sizeof old_) > 0;
}

UserShortDate::~UserShortDate()
{
    if (saved_)
        ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, old_);
}

bool UserShortDate::Set(const std::string& picture)
{
    return saved_ && ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, picture.c_str());
}

bool UserShortDate::Set(const std::wstring& picture)
{
    return saved_ && ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, picture.c_str());
}

long CountProcessHandles()
{
    // SystemHandleInformation (16): a count followed by one record per open
    // handle in the system; the first 32-bit word of a record is the owning
    // process id.
    using QueryFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    auto query =
        setupsup::EntryAs<QueryFn>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    if (!query)
        return -1;
    std::vector<uint8_t> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) { // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status < 0)
            return -1;
        break;
    }
    // The layout follows the pointer size: 16-byte records after the count in
    // a 32-bit process, 24-byte records aligned to 8 in a 64-bit one.
    struct Record {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT handle;
        void* object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Record records[1];
    };
    static_assert(sizeof(Record) == (sizeof(void*) == 8 ? 24 : 16), "handle record layout");
    const ULONG count = reinterpret_cast<const Table*>(buffer.data())->count;
    const Record* records = reinterpret_cast<const Record*>(buffer.data() + offsetof(Table, records));
    long mine = 0;
    DWORD pid = ::GetCurrentProcessId();
    for (ULONG i = 0; i < count; ++i)
        if (records[i].ownerPid == pid)
            ++mine;
    return mine;
}

} // namespace setupsup_test
