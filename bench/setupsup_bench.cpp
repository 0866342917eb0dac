// setupsup_bench: the library's exports timed side by side with what an
// installer would do instead, in one process and one run.
//
//   setupsup_bench [--runs N] [--scale F] [--big-mib M] [--scaling FILE]
//
// Each row times the export and its peer alternately, N times (default 5;
// eight times as often for work of at most 4 MiB, which takes a millisecond),
// and prints the medians and their ratio as one line of a Markdown table;
// every ANSI export's row is followed by its W twin's, against the peer of
// its character type (CopyFileA and CopyFileW, RegCopyTreeA and W).
// --scale divides every size (a smoke run uses a large F); --big-mib sets
// the large split piece (0 leaves that row out). --scaling FILE writes the
// cost of each kind of work at 1x, 4x and 16x, one line per point. Every
// result is checked, so a run that prints a table did the work; the exit
// status is 1 when a result was wrong.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);
using TwoPathsW = int(WINAPI*)(const wchar_t*, const wchar_t*);
using CopyKeyFn = int(WINAPI*)(HKEY, const char*, HKEY, const char*);
using CopyKeyWFn = int(WINAPI*)(HKEY, const wchar_t*, HKEY, const wchar_t*);
using OnePath = int(WINAPI*)(const char*);
using OnePathW = int(WINAPI*)(const wchar_t*);
using RegCopyTreeFn = LONG(WINAPI*)(HKEY, const char*, HKEY);
using RegCopyTreeWFn = LONG(WINAPI*)(HKEY, const wchar_t*, HKEY);
using RegDeleteTreeFn = LONG(WINAPI*)(HKEY, const char*);
using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using GetModuleBaseNameAFn = DWORD(WINAPI*)(HANDLE, HMODULE, char*, DWORD);
using GetModuleBaseNameWFn = DWORD(WINAPI*)(HANDLE, HMODULE, wchar_t*, DWORD);
using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE, DWORD, wchar_t*, DWORD*);
using CountProcessesWFn = int(WINAPI*)(const wchar_t*, DWORD);

constexpr uint32_t kMiB = 1024 * 1024;
constexpr int32_t kMaxProcs = 2724;
constexpr char kBenchKey[] = "Software\\setupsup-bench";
constexpr char kAbsentExe[] = "no-such-program-setupsup.exe";
constexpr int kRunningCalls = 20;

struct Options {
    int runs = 5;
    double scale = 1;
    uint32_t bigMiB = 512;
    std::string scalingFile;
    std::string only; // one row: unsplit, merge, copykey, running or processes
    bool Wants(const char* row) const { return only.empty() || only == row; }
};

bool g_failed = false;

// The runs of a row whose work moves `bytes`: a copy of a few MiB takes about
// a millisecond, where the machine's smallest disturbances move a median of
// few runs by a fifth, so such rows run kSmallWorkRunFactor times as often.
constexpr uint64_t kSmallWorkBytes = uint64_t{4} * kMiB;
constexpr int kSmallWorkRunFactor = 8;

int RunsFor(const Options& o, uint64_t bytes)
{
    return bytes <= kSmallWorkBytes ? o.runs * kSmallWorkRunFactor : o.runs;
}

void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "setupsup_bench: wrong result: %s\n", what);
        g_failed = true;
    }
}

template <typename Fn>
Fn Resolve(HMODULE module, const char* name)
{
    Fn fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    if (fn == nullptr) {
        std::fprintf(stderr, "setupsup_bench: %s not found\n", name);
        std::exit(2);
    }
    return fn;
}

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One timed piece of work with its untimed preparation.
struct Work {
    std::function<void()> prepare;
    std::function<void()> run;
};

double TimeOnce(const Work& work)
{
    if (work.prepare)
        work.prepare();
    const double start = Now();
    work.run();
    return Now() - start;
}

struct Pair {
    double library, peer;
};

// One kind of work at one size: the export's call and its peer's, and what
// checks the results and removes the files or keys they used.
struct Case {
    Work library, peer;
    std::function<void()> finish;
};

// Times each case `runs` times, library then peer; every run goes through
// all the cases in turn, so that a passing disturbance of the machine falls
// on all of them alike. Then finishes the cases, in order.
std::vector<Pair> TimeCases(int runs, const std::vector<Case>& cases)
{
    std::vector<std::vector<double>> a(cases.size()), b(cases.size());
    for (int i = 0; i < runs; ++i) {
        for (size_t c = 0; c < cases.size(); ++c) {
            a[c].push_back(TimeOnce(cases[c].library));
            b[c].push_back(TimeOnce(cases[c].peer));
        }
    }
    std::vector<Pair> medians;
    for (size_t c = 0; c < cases.size(); ++c) {
        medians.push_back({Median(a[c]), Median(b[c])});
        if (cases[c].finish)
            cases[c].finish();
    }
    return medians;
}

void PrintRow(const char* work, const Pair& t, const char* peer)
{
    std::printf("| %s | %.0f ms | %s, %.0f ms | %.2fx |\n", work, t.library, peer, t.peer,
                t.peer > 0 ? t.library / t.peer : 0.0);
    std::fflush(stdout);
}

// An ASCII name in UTF-16, for the W exports and their peers.
std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The name of an export or peer in the row's character type.
std::string Named(const char* name, bool wide) { return std::string(name) + (wide ? "W" : ""); }

// ---- Files ------------------------------------------------------------------

std::string g_dir;

std::string Scratch(const std::string& name) { return g_dir + "\\" + name; }

void WriteAll(HANDLE file, const void* data, DWORD bytes)
{
    DWORD written = 0;
    if (!::WriteFile(file, data, bytes, &written, nullptr) || written != bytes) {
        std::fprintf(stderr, "setupsup_bench: cannot write scratch file\n");
        std::exit(2);
    }
}

HANDLE CreateScratch(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "setupsup_bench: cannot create %s\n", path.c_str());
        std::exit(2);
    }
    return file;
}

// A file of `bytes` bytes of a pattern that differs from chunk to chunk.
void MakePatternFile(const std::string& path, uint64_t bytes)
{
    std::vector<uint32_t> chunk(kMiB / 4);
    uint32_t x = 12345;
    for (auto& word : chunk)
        word = x = x * 1103515245 + 12345;
    HANDLE file = CreateScratch(path);
    for (uint64_t done = 0; done < bytes; done += kMiB) {
        chunk[0] = static_cast<uint32_t>(done / kMiB);
        WriteAll(file, chunk.data(), static_cast<DWORD>(std::min<uint64_t>(kMiB, bytes - done)));
    }
    ::CloseHandle(file);
}

uint64_t FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return UINT64_MAX;
    return uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

// Whether the two files hold the same bytes.
bool SameBytes(const std::string& a, const std::string& b)
{
    HANDLE files[2];
    for (int k = 0; k < 2; ++k) {
        files[k] = ::CreateFileA((k ? b : a).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    bool same = files[0] != INVALID_HANDLE_VALUE && files[1] != INVALID_HANDLE_VALUE;
    std::vector<char> chunks[2] = {std::vector<char>(kMiB), std::vector<char>(kMiB)};
    while (same) {
        DWORD got[2] = {0, 0};
        for (int k = 0; k < 2; ++k)
            same = same && ::ReadFile(files[k], chunks[k].data(), kMiB, &got[k], nullptr);
        same = same && got[0] == got[1] && std::memcmp(chunks[0].data(), chunks[1].data(), got[0]) == 0;
        if (got[0] == 0)
            break;
    }
    for (HANDLE file : files) {
        if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
    }
    return same;
}

void MakeEmptyFile(const std::string& path) { ::CloseHandle(CreateScratch(path)); }

void Copy(const std::string& from, const std::string& to)
{
    if (!::CopyFileA(from.c_str(), to.c_str(), FALSE)) {
        std::fprintf(stderr, "setupsup_bench: cannot copy %s\n", from.c_str());
        std::exit(2);
    }
}

// ---- CBF files ----------------------------------------------------------------

struct Entry {
    uint32_t info0, info1, present, info3, blockOffset, blockLength;
};

// A CBF file with `count` entries whose first `blocks` entries are present
// with blocks of blockLength + 4 bytes each, stored in index order.
void MakeCbf(const std::string& path, int32_t count, int32_t blocks, uint32_t blockLength, uint32_t seed)
{
    std::vector<Entry> map(static_cast<size_t>(count), Entry{});
    uint32_t offset = 21 + static_cast<uint32_t>(count) * 24;
    for (int32_t i = 0; i < blocks; ++i) {
        map[static_cast<size_t>(i)] = {static_cast<uint32_t>(i), seed, 1, 0, offset, blockLength};
        offset += blockLength + 4;
    }
    HANDLE file = CreateScratch(path);
    char header[21] = "07.00.00";
    const uint32_t words[3] = {103191, 4, static_cast<uint32_t>(count)};
    std::memcpy(header + 9, words, sizeof words);
    WriteAll(file, header, sizeof header);
    WriteAll(file, map.data(), static_cast<DWORD>(map.size() * sizeof(Entry)));
    std::vector<unsigned char> block(blockLength + 4);
    for (int32_t i = 0; i < blocks; ++i) {
        for (size_t k = 0; k < block.size(); ++k)
            block[k] = static_cast<unsigned char>(seed + static_cast<uint32_t>(i) + k * 7);
        WriteAll(file, block.data(), static_cast<DWORD>(block.size()));
    }
    ::CloseHandle(file);
}

// ---- Registry -------------------------------------------------------------------

HMODULE g_advapi;

void DeleteTree(const char* path)
{
    static auto deleteTree = Resolve<RegDeleteTreeFn>(g_advapi, "RegDeleteTreeA");
    deleteTree(HKEY_CURRENT_USER, path);
}

// A tree of `keys` keys (the root, children and grandchildren) with five
// string values each.
void MakeKeyTree(const std::string& path, int keys)
{
    const int children = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(keys))));
    int made = 0;
    auto makeKey = [&](const std::string& p) {
        HKEY key;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, p.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            std::fprintf(stderr, "setupsup_bench: cannot create a key\n");
            std::exit(2);
        }
        for (int v = 0; v < 5; ++v) {
            char name[16], data[64];
            std::snprintf(name, sizeof name, "Value%d", v);
            std::snprintf(data, sizeof data, "data of value %d of key %d", v, made);
            ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                             static_cast<DWORD>(std::strlen(data) + 1));
        }
        ::RegCloseKey(key);
        ++made;
    };
    makeKey(path);
    for (int c = 0; made < keys; ++c) {
        const std::string child = path + "\\Child" + std::to_string(c);
        makeKey(child);
        for (int g = 0; g < children - 1 && made < keys; ++g)
            makeKey(child + "\\Grandchild" + std::to_string(g));
    }
}

int CountKeys(const std::string& path)
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD subkeys = 0;
    ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr);
    int total = 1;
    for (DWORD i = 0; i < subkeys; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            total += CountKeys(path + "\\" + name);
    }
    ::RegCloseKey(key);
    return total;
}

// ---- The rows -------------------------------------------------------------------

HMODULE g_dll;

// Files and keys of each case carry the case's tag in their names.
std::vector<Case> UnsplitCase(uint64_t pieceBytes, const std::string& tag, bool wide)
{
    static auto unsplit = Resolve<TwoPaths>(g_dll, "UnsplitFile");
    static auto unsplitW = Resolve<TwoPathsW>(g_dll, "UnsplitFileW");
    const std::string piece = Scratch("piece" + tag), target = Scratch("whole" + tag),
                      copy = Scratch("piececopy" + tag);
    const std::wstring pieceW = Wide(piece), targetW = Wide(target), copyW = Wide(copy);
    MakePatternFile(piece, pieceBytes);
    Work library{[=] { MakeEmptyFile(target); },
                 [=] {
                     const int rc =
                         wide ? unsplitW(targetW.c_str(), pieceW.c_str()) : unsplit(target.c_str(), piece.c_str());
                     Check(rc == 0, "UnsplitFile");
                 }};
    Work peer{[=] { ::DeleteFileA(copy.c_str()); },
              [=] {
                  const BOOL ok = wide ? ::CopyFileW(pieceW.c_str(), copyW.c_str(), FALSE)
                                       : ::CopyFileA(piece.c_str(), copy.c_str(), FALSE);
                  Check(ok != FALSE, "CopyFile");
              }};
    auto finish = [=] {
        Check(FileSize(target) == pieceBytes && FileSize(copy) == pieceBytes, "joined size");
        for (const std::string& path : {piece, target, copy})
            ::DeleteFileA(path.c_str());
    };
    return {{library, peer, finish}};
}

// The update has `procs` present procs whose blocks total about
// `blockBytes`. Two cases: it is merged into an installed file whose blocks
// are all shorter (every block appended), and into the result of that merge
// (every block in place, which leaves the file byte for byte as it was).
std::vector<Case> MergeCases(int32_t procs, uint64_t blockBytes, const std::string& tag, bool wide)
{
    static auto mergeA = Resolve<TwoPaths>(g_dll, "MergeCbf");
    static auto mergeW = Resolve<TwoPathsW>(g_dll, "MergeCbfW");
    // The export of the row's character type, over ASCII names.
    auto merge = [wide](const char* update, const char* target) {
        return wide ? mergeW(Wide(update).c_str(), Wide(target).c_str()) : mergeA(update, target);
    };
    const int32_t count = std::max<int32_t>(250, procs);
    const uint32_t length = static_cast<uint32_t>(std::max<uint64_t>(blockBytes / static_cast<uint64_t>(procs), 8)) - 4;
    const std::string update = Scratch("update" + tag), installed = Scratch("installed" + tag);
    const std::string merged = Scratch("merged" + tag), copy = Scratch("updatecopy" + tag);
    const std::string appendedTarget = Scratch("appended" + tag), inPlaceTarget = Scratch("inplace" + tag);
    MakeCbf(update, count, procs, length, 1);
    MakeCbf(installed, count, procs, 4, 2);
    Copy(installed, merged);
    Check(merge(update.c_str(), merged.c_str()) == 0, "MergeCbf");
    const uint64_t mergedSize = FileSize(merged);
    Check(mergedSize == FileSize(installed) + uint64_t{length + 4} * static_cast<uint64_t>(procs), "merged size");

    const std::wstring updateW = Wide(update), copyW = Wide(copy);
    Work peer{[=] { ::DeleteFileA(copy.c_str()); },
              [=] {
                  const BOOL ok = wide ? ::CopyFileW(updateW.c_str(), copyW.c_str(), FALSE)
                                       : ::CopyFileA(update.c_str(), copy.c_str(), FALSE);
                  Check(ok != FALSE, "CopyFile");
              }};
    Work appended{[=] { Copy(installed, appendedTarget); },
                  [=] { Check(merge(update.c_str(), appendedTarget.c_str()) == 0, "MergeCbf appended"); }};
    Work inPlace{[=] { Copy(merged, inPlaceTarget); },
                 [=] { Check(merge(update.c_str(), inPlaceTarget.c_str()) == 0, "MergeCbf in place"); }};
    auto checkAppended = [=] { Check(SameBytes(appendedTarget, merged), "appended merge"); };
    auto finish = [=] {
        Check(SameBytes(inPlaceTarget, merged), "a merge in place of the same update changes nothing");
        for (const std::string& path : {update, installed, merged, copy, appendedTarget, inPlaceTarget})
            ::DeleteFileA(path.c_str());
    };
    return {{appended, peer, checkAppended}, {inPlace, peer, finish}};
}

std::vector<Case> CopyKeyCase(int keys, const std::string& tag, bool wide)
{
    static auto copyKeyA = Resolve<CopyKeyFn>(g_dll, "CopyKey");
    static auto copyKeyW = Resolve<CopyKeyWFn>(g_dll, "CopyKeyW");
    static auto regCopyTreeA = Resolve<RegCopyTreeFn>(g_advapi, "RegCopyTreeA");
    static auto regCopyTreeW = Resolve<RegCopyTreeWFn>(g_advapi, "RegCopyTreeW");
    auto copyKey = [wide](HKEY from, const char* source, HKEY to, const char* target) {
        return wide ? copyKeyW(from, Wide(source).c_str(), to, Wide(target).c_str())
                    : copyKeyA(from, source, to, target);
    };
    auto regCopyTree = [wide](HKEY from, HKEY to) {
        return wide ? regCopyTreeW(from, nullptr, to) : regCopyTreeA(from, nullptr, to);
    };
    const std::string base = std::string(kBenchKey) + "\\" + tag, source = base + "\\Source";
    const std::string byLibrary = base + "\\ByLibrary", byPeer = base + "\\BySystem";
    DeleteTree(base.c_str());
    MakeKeyTree(source, keys);
    Work library{[=] { DeleteTree(byLibrary.c_str()); },
                 [=] {
                     Check(copyKey(HKEY_CURRENT_USER, source.c_str(), HKEY_CURRENT_USER, byLibrary.c_str()) == 0,
                           "CopyKey");
                 }};
    // The peer opens the source and creates the target as CopyKey does.
    Work peer{[=] { DeleteTree(byPeer.c_str()); },
              [=] {
                  HKEY from = nullptr, to = nullptr;
                  bool ok = ::RegOpenKeyExA(HKEY_CURRENT_USER, source.c_str(), 0, KEY_READ, &from) == ERROR_SUCCESS;
                  ok = ok && ::RegCreateKeyExA(HKEY_CURRENT_USER, byPeer.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, &to, nullptr) == ERROR_SUCCESS;
                  ok = ok && regCopyTree(from, to) == ERROR_SUCCESS;
                  ::RegCloseKey(from);
                  ::RegCloseKey(to);
                  Check(ok, "RegCopyTreeA");
              }};
    auto finish = [=] {
        Check(CountKeys(byLibrary) == keys && CountKeys(byPeer) == keys, "copied key count");
        DeleteTree(base.c_str());
    };
    return {{library, peer, finish}};
}

// The enumeration IsZORBAppRunning makes on the NT family, written as an
// installer would: every process's executable module, its base name
// compared without case.
bool RunningByHand(const char* exeName, bool wide)
{
    static HMODULE psapi = ::LoadLibraryA("PSAPI.DLL");
    static auto enumProcesses = Resolve<EnumProcessesFn>(psapi, "EnumProcesses");
    static auto enumModules = Resolve<EnumProcessModulesFn>(psapi, "EnumProcessModules");
    static auto baseName = Resolve<GetModuleBaseNameAFn>(psapi, "GetModuleBaseNameA");
    static auto baseNameW = Resolve<GetModuleBaseNameWFn>(psapi, "GetModuleBaseNameW");
    const std::wstring exeNameW = Wide(exeName);
    DWORD ids[4096], bytes = 0;
    if (!enumProcesses(ids, sizeof ids, &bytes))
        return false;
    bool found = false;
    for (DWORD i = 0; i < bytes / sizeof ids[0] && !found; ++i) {
        HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process == nullptr)
            continue;
        HMODULE module;
        DWORD needed;
        char name[MAX_PATH];
        wchar_t nameW[MAX_PATH];
        if (!enumModules(process, &module, sizeof module, &needed))
            found = false;
        else if (wide)
            found = baseNameW(process, module, nameW, MAX_PATH) && ::lstrcmpiW(nameW, exeNameW.c_str()) == 0;
        else
            found = baseName(process, module, name, sizeof name) && ::lstrcmpiA(name, exeName) == 0;
        ::CloseHandle(process);
    }
    return found;
}

std::vector<Case> RunningCase(bool wide)
{
    static auto isRunningA = Resolve<OnePath>(g_dll, "IsZORBAppRunning");
    static auto isRunningW = Resolve<OnePathW>(g_dll, "IsZORBAppRunningW");
    auto isRunning = [wide](const char* name) { return wide ? isRunningW(Wide(name).c_str()) : isRunningA(name); };
    char self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, self, sizeof self);
    const char* base = std::strrchr(self, '\\');
    base = base ? base + 1 : self;
    Check(n > 0 && isRunning(base) == 1 && RunningByHand(base, wide), "own executable found");
    const std::wstring absentW = Wide(kAbsentExe);
    Work library{nullptr, [=] {
                     for (int i = 0; i < kRunningCalls; ++i) {
                         const int running = wide ? isRunningW(absentW.c_str()) : isRunningA(kAbsentExe);
                         Check(running == 0, "IsZORBAppRunning");
                     }
                 }};
    Work peer{nullptr, [wide] {
                  for (int i = 0; i < kRunningCalls; ++i)
                      Check(!RunningByHand(kAbsentExe, wide), "enumeration by hand");
              }};
    return {{library, peer, nullptr}};
}

// The count CountProcesses makes of a full path, written as an installer
// would: every process but this one opened for its image path, which is
// compared without case.
int CountByHand(const wchar_t* image)
{
    static HMODULE psapi = ::LoadLibraryA("PSAPI.DLL");
    static auto enumProcesses = Resolve<EnumProcessesFn>(psapi, "EnumProcesses");
    static auto imagePath =
        Resolve<QueryFullProcessImageNameWFn>(::GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW");
    DWORD ids[4096], bytes = 0;
    if (!enumProcesses(ids, sizeof ids, &bytes))
        return -1;
    int count = 0;
    const DWORD self = ::GetCurrentProcessId();
    for (DWORD i = 0; i < bytes / sizeof ids[0]; ++i) {
        if (ids[i] == self)
            continue;
        HANDLE process = ::OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, ids[i]);
        if (process == nullptr)
            continue;
        wchar_t path[MAX_PATH];
        DWORD size = MAX_PATH;
        if (imagePath(process, 0, path, &size) && ::lstrcmpiW(path, image) == 0)
            ++count;
        ::CloseHandle(process);
    }
    return count;
}

// CountProcessesW of an absent full path in every process the caller can
// see (scope 2), against the count by hand.
std::vector<Case> ProcessesCase()
{
    static auto countW = Resolve<CountProcessesWFn>(g_dll, "CountProcessesW");
    const std::wstring absent = Wide(Scratch(kAbsentExe));
    Check(countW(absent.c_str(), 2) == 0 && CountByHand(absent.c_str()) == 0, "no process runs the absent path");
    Work library{nullptr, [=] {
                     for (int i = 0; i < kRunningCalls; ++i)
                         Check(countW(absent.c_str(), 2) == 0, "CountProcessesW");
                 }};
    Work peer{nullptr, [=] {
                  for (int i = 0; i < kRunningCalls; ++i)
                      Check(CountByHand(absent.c_str()) == 0, "count by hand");
              }};
    return {{library, peer, nullptr}};
}

// ---- Main -----------------------------------------------------------------------

uint64_t Scaled(const Options& o, uint64_t bytes)
{
    return std::max<uint64_t>(static_cast<uint64_t>(static_cast<double>(bytes) / o.scale), 4096);
}

int ScaledCount(const Options& o, int count) { return std::max(1, static_cast<int>(count / o.scale)); }

// Every kind of work at 1x, 4x and 16x, all sizes timed in each run.
void Scaling(const Options& o)
{
    FILE* out = std::fopen(o.scalingFile.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "setupsup_bench: cannot write %s\n", o.scalingFile.c_str());
        std::exit(2);
    }
    std::fprintf(out, "# work\tfactor\tlibrary_ms\tpeer_ms\n");
    const char* names[] = {"unsplit", "merge-appended", "merge-in-place", "copykey"};
    std::vector<Case> cases;
    std::vector<std::string> labels;
    for (int factor : {1, 4, 16}) {
        const std::string tag = "x" + std::to_string(factor);
        const auto f = static_cast<uint64_t>(factor);
        // Procs of 384 bytes: the work per block, not the bytes, dominates.
        const int32_t procs = std::max(1, std::min(kMaxProcs, ScaledCount(o, kMaxProcs) * factor / 16));
        std::vector<Case> kinds[] = {UnsplitCase(Scaled(o, uint64_t{4} * kMiB * f), tag, false),
                                     MergeCases(procs, uint64_t{384} * static_cast<uint64_t>(procs), tag, false),
                                     CopyKeyCase(std::max(2, ScaledCount(o, 160) * factor), tag, false)};
        size_t name = 0; // the cases come in the order of `names`
        for (const std::vector<Case>& kind : kinds) {
            for (const Case& c : kind) {
                labels.push_back(std::string(names[name++]) + "\t" + std::to_string(factor));
                cases.push_back(c);
            }
        }
    }
    const std::vector<Pair> medians = TimeCases(o.runs, cases);
    for (size_t c = 0; c < cases.size(); ++c)
        std::fprintf(out, "%s\t%.2f\t%.2f\n", labels[c].c_str(), medians[c].library, medians[c].peer);
    std::fclose(out);
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--runs")
            o.runs = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--scale")
            o.scale = std::max(1.0, std::atof(argv[i + 1]));
        else if (flag == "--big-mib")
            o.bigMiB = static_cast<uint32_t>(std::atoi(argv[i + 1]));
        else if (flag == "--scaling")
            o.scalingFile = argv[i + 1];
        else if (flag == "--only")
            o.only = argv[i + 1];
        else
            continue;
        ++i;
    }
    return o;
}

void MakeScratchFolder()
{
    char temp[MAX_PATH];
    const DWORD n = ::GetTempPathA(sizeof temp, temp);
    g_dir = std::string(temp, n) + "setupsup-bench-" + std::to_string(::GetCurrentProcessId());
    if (!::CreateDirectoryA(g_dir.c_str(), nullptr)) {
        std::fprintf(stderr, "setupsup_bench: cannot create %s\n", g_dir.c_str());
        std::exit(2);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const Options o = ParseOptions(argc, argv);
    g_dll = ::LoadLibraryA("setupsup.dll");
    g_advapi = ::LoadLibraryA("advapi32.dll");
    if (g_dll == nullptr || g_advapi == nullptr) {
        std::fprintf(stderr, "setupsup_bench: cannot load setupsup.dll\n");
        return 2;
    }
    MakeScratchFolder();

    std::printf("| Work | Library | Peer in the same process | Ratio |\n|---|---|---|---|\n");
    // Each row for the ANSI export and beside it for its W twin, each
    // against the peer of its own character type.
    const bool both[] = {false, true};
    auto named = [](const char* name, bool w) { return "`" + Named(name, w) + "`"; };
    auto copyFile = [](bool w) { return std::string(w ? "`CopyFileW`" : "`CopyFileA`"); };
    if (o.Wants("unsplit")) {
        // A small piece, where the opens around the copy show, and large ones.
        const struct {
            uint64_t bytes;
            const char* tag;
        } pieces[] = {{Scaled(o, kMiB), "1"},
                      {Scaled(o, uint64_t{64} * kMiB), "64"},
                      {o.bigMiB > 0 ? Scaled(o, uint64_t{o.bigMiB} * kMiB) : 0, "big"}};
        for (const auto& piece : pieces) {
            for (const bool w : both) {
                if (piece.bytes == 0)
                    continue;
                PrintRow(
                    (named("UnsplitFile", w) + " of a " + std::to_string(piece.bytes / 1024) + " KiB piece").c_str(),
                    TimeCases(RunsFor(o, piece.bytes), UnsplitCase(piece.bytes, piece.tag, w))[0],
                    (copyFile(w) + " of the piece").c_str());
            }
        }
    }
    if (o.Wants("merge")) {
        // Large blocks, then blocks of 384 bytes, where the work per block
        // rather than per byte shows.
        const int32_t procs = std::min(kMaxProcs, std::max(1, ScaledCount(o, kMaxProcs)));
        for (uint64_t bytes : {Scaled(o, uint64_t{64} * kMiB), uint64_t{384} * static_cast<uint64_t>(procs)}) {
            std::vector<Pair> t[2];
            for (const bool w : both)
                t[w] = TimeCases(RunsFor(o, bytes), MergeCases(procs, bytes, "table", w));
            for (size_t placement = 0; placement < 2; ++placement) {
                for (const bool w : both) {
                    const std::string what = named("MergeCbf", w) + ", " + std::to_string(procs) + " procs, " +
                                             std::to_string(bytes / 1024) + " KiB of blocks" +
                                             (placement == 0 ? ", all appended" : ", all in place");
                    PrintRow(what.c_str(), t[w][placement], (copyFile(w) + " of the update").c_str());
                }
            }
        }
    }
    if (o.Wants("copykey")) {
        const int keys = std::max(2, ScaledCount(o, 2550));
        for (const bool w : both) {
            PrintRow((named("CopyKey", w) + " of " + std::to_string(keys) + " keys with 5 values each").c_str(),
                     TimeCases(o.runs, CopyKeyCase(keys, "table", w))[0], w ? "`RegCopyTreeW`" : "`RegCopyTreeA`");
        }
    }
    if (o.Wants("running")) {
        for (const bool w : both) {
            PrintRow((named("IsZORBAppRunning", w) + " of an absent name, " + std::to_string(kRunningCalls) + " calls")
                         .c_str(),
                     TimeCases(o.runs, RunningCase(w))[0], "the same enumeration by hand");
        }
    }
    if (o.Wants("processes")) {
        PrintRow(
            ("`CountProcessesW` of an absent full path, every process, " + std::to_string(kRunningCalls) + " calls")
                .c_str(),
            TimeCases(o.runs, ProcessesCase())[0], "`QueryFullProcessImageNameW` of each process by hand");
    }
    if (!o.scalingFile.empty())
        Scaling(o);
    DeleteTree(kBenchKey);
    ::RemoveDirectoryA(g_dir.c_str());
    return g_failed ? 1 : 0;
}
