// The enumeration walks of IsZORBAppRunning fed with process records Wine
// cannot produce. Wine reports base names in szExeFile even in win98 mode and
// can read every process's name, so full-path records, unreadable names,
// module lists that fail and more than 4096 processes come from stand-in
// entry points handed out by the library's entry resolver. Everything the
// stand-ins do not replace (opening the processes, closing handles, loading
// PSAPI.DLL) is the real system. The library's sources are compiled into
// this program with their test seams, to reach the resolver.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "process/running_instance.h"
#include "tests/common/test_support.h"

#ifndef _WIN64
using setupsup::IsAppRunning9x;
#endif
using setupsup::IsAppRunningNt;
using setupsup::SameNameIgnoringCase;
using setupsup_test::CountProcessHandles;

namespace {

// An image path QueryFullProcessImageNameA cannot read.
const char kNoImagePath[] = "(no image path)";

// What the stand-in entry points report, and what they were asked.
struct Records {
    // NT family: the ids EnumProcesses reports, and per id index the base
    // name GetModuleBaseNameA yields (nullptr: the read fails).
    std::vector<DWORD> ids;
    DWORD reportedBytes = 0; // 0: ids.size() * 4
    bool enumFails = false;
    std::vector<const char*> baseNames;
    DWORD enumBufferBytes = 0; // the size EnumProcesses was given
    int moduleListings = 0;    // EnumProcessModules calls
    DWORD moduleBufferBytes = 0;
    // Per id index: null, the module list succeeds; else the list fails (as
    // for a 64-bit process under WoW64) and QueryFullProcessImageNameA
    // reports this path, or fails for kNoImagePath.
    std::vector<const char*> imagePaths;
    size_t listedIndex = 0;
    int imagePathQueries = 0;
    DWORD imagePathFlags = 99;
    int imagePathResolutions = 0; // looked up in KERNEL32.DLL

    // Windows 95 family: the szExeFile of each snapshot entry.
    std::vector<std::string> exeFiles;
    bool snapshotFails = false;
    DWORD snapshotFlags = 0, snapshotProcessId = 1;
    DWORD entrySize = 0; // dwSize as the walk set it
    size_t nextEntry = 0;
    int walkCalls = 0;
    HANDLE snapshot = nullptr;

    // An entry name the resolver reports as missing.
    const char* missing = nullptr;
};
Records g_records;

BOOL WINAPI StandInEnumProcesses(DWORD* ids, DWORD bytes, DWORD* bytesFilled)
{
    g_records.enumBufferBytes = bytes;
    if (g_records.enumFails)
        return FALSE;
    DWORD room = bytes / sizeof(DWORD);
    DWORD count = static_cast<DWORD>(g_records.ids.size());
    for (DWORD i = 0; i < count && i < room; ++i)
        ids[i] = g_records.ids[i];
    *bytesFilled = g_records.reportedBytes ? g_records.reportedBytes : count * sizeof(DWORD);
    return TRUE;
}

BOOL WINAPI StandInEnumProcessModules(HANDLE, HMODULE* modules, DWORD bytes, DWORD* bytesNeeded)
{
    g_records.moduleBufferBytes = bytes;
    size_t index = static_cast<size_t>(g_records.moduleListings++);
    g_records.listedIndex = index;
    if (index < g_records.imagePaths.size() && g_records.imagePaths[index]) {
        ::SetLastError(ERROR_PARTIAL_COPY);
        return FALSE;
    }
    // The module handle carries the index of the record being examined.
    *modules = reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(index));
    *bytesNeeded = sizeof(HMODULE);
    return TRUE;
}

BOOL WINAPI StandInQueryFullProcessImageNameA(HANDLE, DWORD flags, LPSTR path, DWORD* size)
{
    ++g_records.imagePathQueries;
    g_records.imagePathFlags = flags;
    const char* image = g_records.imagePaths.at(g_records.listedIndex);
    if (image == kNoImagePath)
        return FALSE;
    DWORD length = static_cast<DWORD>(std::strlen(image));
    if (length >= *size) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(path, image, length + 1);
    *size = length;
    return TRUE;
}

DWORD WINAPI StandInGetModuleBaseNameA(HANDLE, HMODULE module, LPSTR name, DWORD size)
{
    size_t index = reinterpret_cast<UINT_PTR>(module);
    const char* baseName = index < g_records.baseNames.size() ? g_records.baseNames[index] : "other.exe";
    if (!baseName)
        return 0; // as when the process's memory cannot be read
    lstrcpynA(name, baseName, static_cast<int>(size));
    return static_cast<DWORD>(std::strlen(name));
}

HANDLE WINAPI StandInCreateToolhelp32Snapshot(DWORD flags, DWORD processId)
{
    g_records.snapshotFlags = flags;
    g_records.snapshotProcessId = processId;
    if (g_records.snapshotFails)
        return INVALID_HANDLE_VALUE;
    // A real object, so that the walk's close is a real close.
    g_records.snapshot = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_records.nextEntry = 0;
    return g_records.snapshot;
}

BOOL WINAPI StandInProcess32Walk(HANDLE snapshot, PROCESSENTRY32* entry)
{
    ++g_records.walkCalls;
    if (snapshot != g_records.snapshot)
        return FALSE;
    g_records.entrySize = entry->dwSize;
    if (g_records.nextEntry >= g_records.exeFiles.size())
        return FALSE;
    const std::string& exeFile = g_records.exeFiles[g_records.nextEntry++];
    // szExeFile is filled to its end, as the system leaves it.
    std::memset(entry->szExeFile, 'Z', sizeof entry->szExeFile);
    std::memcpy(entry->szExeFile, exeFile.c_str(), exeFile.size() + 1);
    return TRUE;
}

template <typename Fn>
FARPROC StandIn(Fn* function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

FARPROC WINAPI ResolveStandIns(HMODULE module, LPCSTR name)
{
    if (g_records.missing && std::strcmp(name, g_records.missing) == 0)
        return nullptr;
    if (std::strcmp(name, "EnumProcesses") == 0)
        return StandIn(&StandInEnumProcesses);
    if (std::strcmp(name, "EnumProcessModules") == 0)
        return StandIn(&StandInEnumProcessModules);
    if (std::strcmp(name, "GetModuleBaseNameA") == 0)
        return StandIn(&StandInGetModuleBaseNameA);
    if (std::strcmp(name, "QueryFullProcessImageNameA") == 0) {
        if (module == ::GetModuleHandleA("KERNEL32.DLL"))
            ++g_records.imagePathResolutions;
        return StandIn(&StandInQueryFullProcessImageNameA);
    }
    if (std::strcmp(name, "CreateToolhelp32Snapshot") == 0)
        return StandIn(&StandInCreateToolhelp32Snapshot);
    if (std::strcmp(name, "Process32First") == 0 || std::strcmp(name, "Process32Next") == 0)
        return StandIn(&StandInProcess32Walk);
    return ::GetProcAddress(module, name);
}

// Real entries except one, reported missing.
FARPROC WINAPI ResolveAllButMissing(HMODULE module, LPCSTR name)
{
    if (std::strcmp(name, g_records.missing) == 0)
        return nullptr;
    return ::GetProcAddress(module, name);
}

class RecordsTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_records = Records{};
        setupsup::g_resolveEntry = ResolveStandIns;
    }
    void TearDown() override { setupsup::g_resolveEntry = ::GetProcAddress; }

    // n ids of this very process: the walk really opens each of them.
    static void ProcessesNamed(std::vector<const char*> names)
    {
        g_records.ids.assign(names.size(), ::GetCurrentProcessId());
        g_records.baseNames = std::move(names);
    }
};

using NtRecords = RecordsTest;
using Win9xRecords = RecordsTest;
using MissingEntries = RecordsTest;

} // namespace

TEST_F(NtRecords, WholeBaseNameIgnoringAsciiCase)
{
    ProcessesNamed({"setup.exe", "MyApp.exe", "explorer.exe"});
    EXPECT_TRUE(IsAppRunningNt("MYAPP.EXE")) << "base name MyApp.exe, asked MYAPP.EXE";
    EXPECT_EQ(g_records.enumBufferBytes, 16384u) << "EnumProcesses is given room for 4096 ids";
    EXPECT_EQ(g_records.moduleBufferBytes, sizeof(HMODULE)) << "room for exactly the executable's module";
    EXPECT_EQ(g_records.moduleListings, 2) << "the walk stops at the first match";

    g_records.moduleListings = 0;
    EXPECT_FALSE(IsAppRunningNt("app.exe")) << "a base name is compared whole, never as a substring";
    EXPECT_EQ(g_records.moduleListings, 3) << "every process is examined when none matches";
    g_records.moduleListings = 0;
    EXPECT_FALSE(IsAppRunningNt("D:\\TOOLS\\MyApp.exe")) << "a name with a directory matches no base name";
    g_records.moduleListings = 0;
    EXPECT_FALSE(IsAppRunningNt("")) << "the empty name matches no process on the NT family";
    g_records.moduleListings = 0;
    EXPECT_FALSE(IsAppRunningNt("MyApp.ex")) << "a prefix of the base name is not the base name";
}

TEST_F(NtRecords, UnreadableNameIsComparedAsUnknown)
{
    ProcessesNamed({"setup.exe", nullptr});
    EXPECT_TRUE(IsAppRunningNt("UNKNOWN")) << "the unreadable process reads as \"unknown\"";
    g_records.moduleListings = 0;
    EXPECT_TRUE(IsAppRunningNt("unknown"));

    // The buffer is set to "unknown" afresh for every process: a name read
    // for one process never stands in for the next.
    ProcessesNamed({"MyApp.exe", nullptr});
    g_records.moduleListings = 0;
    EXPECT_TRUE(IsAppRunningNt("UNKNOWN"));
    ProcessesNamed({"aVeryLongName.exe", nullptr});
    g_records.moduleListings = 0;
    EXPECT_TRUE(IsAppRunningNt("unknown")) << "a longer earlier name must not leave its tail behind";

    ProcessesNamed({"setup.exe"});
    g_records.moduleListings = 0;
    EXPECT_FALSE(IsAppRunningNt("UNKNOWN")) << "no unreadable process, no \"unknown\"";
}

TEST_F(NtRecords, UnlistableProcessIsNamedByItsImagePath)
{
    ProcessesNamed({"setup.exe", "other.exe"});
    g_records.imagePaths = {nullptr, "C:\\Program Files\\Zorb\\MyApp64.exe"};
    EXPECT_TRUE(IsAppRunningNt("MYAPP64.EXE")) << "the path after its last backslash, case ignored";
    EXPECT_EQ(g_records.imagePathQueries, 1) << "asked only for the process whose modules did not list";
    EXPECT_EQ(g_records.imagePathFlags, 0u) << "the Win32 form of the path";
    for (const char* name : {"Zorb\\MyApp64.exe", "MyApp64.ex", "other.exe", "unknown"}) {
        g_records.moduleListings = 0;
        EXPECT_FALSE(IsAppRunningNt(name)) << name << " is not the base name of the image path";
    }

    g_records.imagePaths = {nullptr, "MyApp64.exe"};
    g_records.moduleListings = 0;
    EXPECT_TRUE(IsAppRunningNt("myapp64.exe")) << "a path without a backslash is compared whole";

    // An unreadable path, or one longer than the room for it, is no match:
    // never "unknown", never a cut name.
    std::string longPath = "C:\\" + std::string(1100, 'd') + "\\MyApp64.exe";
    for (const char* image : {kNoImagePath, longPath.c_str()}) {
        g_records.imagePaths = {nullptr, image};
        g_records.moduleListings = 0;
        EXPECT_FALSE(IsAppRunningNt("MyApp64.exe"));
        g_records.moduleListings = 0;
        EXPECT_FALSE(IsAppRunningNt("unknown")) << "the \"unknown\" rule is for names unread from a listed module";
    }
    EXPECT_EQ(g_records.imagePathResolutions, 10) << "resolved from KERNEL32.DLL afresh at every call";
}

TEST_F(NtRecords, DoubleByteImagePathSplitsOnlyAtBackslashCharacters)
{
    ASSERT_EQ(::GetACP(), 932u) << "this case runs in a Japanese locale (ANSI code page 932)";
    // 95 5C is one character whose trail byte is the backslash byte.
    ProcessesNamed({"other.exe"});
    g_records.imagePaths = {"C:\\Tools\\\x95\x5C.exe"};
    EXPECT_TRUE(IsAppRunningNt("\x95\x5C.exe")) << "the base name is the whole last character run";
    g_records.moduleListings = 0;
    EXPECT_FALSE(IsAppRunningNt(".exe")) << "a trail byte 5C separates nothing";
}

TEST_F(NtRecords, ProcessesThatCannotBeOpenedDoNotMatch)
{
    // Id 0 (the idle process) and an id no process has cannot be opened
    // with query and read rights; the walk goes on past them.
    g_records.ids = {0, 0xFFFFFFF0u, ::GetCurrentProcessId()};
    g_records.baseNames = {"MyApp.exe"};
    EXPECT_TRUE(IsAppRunningNt("MYAPP.EXE"));
    EXPECT_EQ(g_records.moduleListings, 1) << "only the process that opened was listed";
}

TEST_F(NtRecords, OnlyTheFirst4096IdsAreExamined)
{
    std::vector<const char*> names(4097, "other.exe");
    names[4095] = "last.exe";
    names[4096] = "beyond.exe";
    ProcessesNamed(names);
    EXPECT_TRUE(IsAppRunningNt("LAST.EXE")) << "the 4096th id is examined";
    g_records.moduleListings = 0;
    EXPECT_FALSE(IsAppRunningNt("BEYOND.EXE")) << "the 4097th id is never examined";
    EXPECT_EQ(g_records.moduleListings, 4096);

    // An enumeration that claims more bytes than it was given room for is
    // still read only as far as the array goes.
    ProcessesNamed(std::vector<const char*>(4096, "other.exe"));
    g_records.reportedBytes = 5000 * sizeof(DWORD);
    g_records.moduleListings = 0;
    EXPECT_FALSE(IsAppRunningNt("NONE.EXE"));
    EXPECT_EQ(g_records.moduleListings, 4096) << "no id read from beyond the 4096-id array";
}

TEST_F(NtRecords, FailedOrEmptyEnumerationGivesZero)
{
    ProcessesNamed({"MyApp.exe"});
    g_records.enumFails = true;
    EXPECT_FALSE(IsAppRunningNt("MyApp.exe")) << "EnumProcesses failed";
    g_records.enumFails = false;
    g_records.ids.clear();
    EXPECT_FALSE(IsAppRunningNt("MyApp.exe")) << "no processes reported";
    EXPECT_EQ(g_records.moduleListings, 0);
}

// The Windows 95-family walk: the 32-bit DLL only.
#ifndef _WIN64
TEST_F(Win9xRecords, UpperCasedNameSearchedInFullPaths)
{
    g_records.exeFiles = {"C:\\WINDOWS\\EXPLORER.EXE", "D:\\TOOLS\\MYAPP.EXE", "C:\\WINDOWS\\SYSTRAY.EXE"};
    EXPECT_TRUE(IsAppRunning9x("app.exe")) << "app.exe is searched as APP.EXE inside D:\\TOOLS\\MYAPP.EXE";
    EXPECT_EQ(g_records.snapshotFlags, static_cast<DWORD>(TH32CS_SNAPPROCESS));
    EXPECT_EQ(g_records.snapshotProcessId, 0u);
    EXPECT_EQ(g_records.entrySize, 296u) << "dwSize of the ANSI process record";
    EXPECT_EQ(g_records.walkCalls, 4) << "the walk runs to the end of the snapshot after a match";

    EXPECT_TRUE(IsAppRunning9x("MyApp")) << "any substring, raised to upper case";
    EXPECT_TRUE(IsAppRunning9x("tools\\myapp.exe")) << "directories are part of what is searched";
    EXPECT_FALSE(IsAppRunning9x("notepad.exe"));

    g_records.exeFiles = {"d:\\tools\\app.exe"};
    EXPECT_FALSE(IsAppRunning9x("app.exe")) << "the search is byte-exact: APP.EXE is not in d:\\tools\\app.exe";
    EXPECT_FALSE(IsAppRunning9x("APP.exe"));
}

TEST_F(Win9xRecords, EmptyNameMatchesAnyEntry)
{
    g_records.exeFiles = {"C:\\WINDOWS\\EXPLORER.EXE"};
    EXPECT_TRUE(IsAppRunning9x("")) << "the empty name occurs in every entry";
    g_records.exeFiles.clear();
    EXPECT_FALSE(IsAppRunning9x("")) << "an empty snapshot has nothing to match";
    EXPECT_EQ(g_records.walkCalls, 3) << "Process32First alone for the empty snapshot";
}

TEST_F(Win9xRecords, OnlyAsciiLettersAreRaised)
{
    // 0xE9 is e-acute and 0xC9 E-acute in code page 1252; neither is
    // changed by the upper-casing, so only the entry with the very same
    // byte matches.
    g_records.exeFiles = {"C:\\CAF\xC9.EXE"};
    EXPECT_FALSE(IsAppRunning9x("caf\xE9.exe")) << "0xE9 is not raised to 0xC9";
    g_records.exeFiles = {"C:\\CAF\xE9.EXE"};
    EXPECT_TRUE(IsAppRunning9x("caf\xE9.exe")) << "0xE9 stays 0xE9, the ASCII letters are raised";
    g_records.exeFiles = {"C:\\[\\]^_`{|}~.EXE"};
    EXPECT_TRUE(IsAppRunning9x("[\\]^_`{|}~.exe")) << "the bytes around the letters are unchanged";
}

TEST_F(Win9xRecords, FailedSnapshotGivesZeroAndNothingLeaksOpen)
{
    g_records.exeFiles = {"D:\\TOOLS\\MYAPP.EXE"};
    g_records.snapshotFails = true;
    EXPECT_FALSE(IsAppRunning9x("app.exe")) << "no snapshot, no answer";
    EXPECT_EQ(g_records.walkCalls, 0) << "no walk without a snapshot";

    g_records.snapshotFails = false;
    long before = CountProcessHandles();
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(IsAppRunning9x("app.exe"));
    EXPECT_EQ(CountProcessHandles(), before) << "every snapshot handle closed";
}
#endif

TEST_F(MissingEntries, AnyMissingEntryGivesZero)
{
    // The test program itself runs, so with all entries real the NT path
    // finds it; each missing entry, even one never called, turns that into 0.
    setupsup::g_resolveEntry = ResolveAllButMissing;
    const std::string self = setupsup_test::ProgramBaseName();
    ASSERT_FALSE(self.empty());
    const char* baseName = self.c_str();
    g_records.missing = "none";
    ASSERT_TRUE(IsAppRunningNt(baseName)) << "with every entry present, the test program is found";
    for (const char* entry : {"EnumProcesses", "EnumProcessModules", "GetModuleBaseNameA", "GetModuleInformation"}) {
        g_records.missing = entry;
        EXPECT_FALSE(IsAppRunningNt(baseName)) << "PSAPI.DLL without " << entry;
    }

    // QueryFullProcessImageNameA came with Vista: without it the process
    // whose modules do not list simply does not match, as before.
    setupsup::g_resolveEntry = ResolveStandIns;
    ProcessesNamed({"MyApp.exe", "other.exe"});
    g_records.imagePaths = {nullptr, "C:\\Zorb\\MyApp64.exe"};
    g_records.missing = "QueryFullProcessImageNameA";
    EXPECT_FALSE(IsAppRunningNt("MyApp64.exe")) << "no image path before Vista";
    g_records.moduleListings = 0;
    EXPECT_TRUE(IsAppRunningNt("MyApp.exe")) << "its absence is no failure of the enumeration";
    EXPECT_EQ(g_records.imagePathQueries, 0);

#ifndef _WIN64
    g_records.exeFiles = {"D:\\TOOLS\\MYAPP.EXE"};
    g_records.missing = "none";
    ASSERT_TRUE(IsAppRunning9x("app.exe"));
    for (const char* entry :
         {"CreateToolhelp32Snapshot", "Process32First", "Process32Next", "Module32First", "Module32Next"}) {
        g_records.missing = entry;
        g_records.walkCalls = 0;
        g_records.snapshotFlags = 0;
        EXPECT_FALSE(IsAppRunning9x("app.exe")) << "KERNEL32.DLL without " << entry;
        EXPECT_EQ(g_records.snapshotFlags, 0u) << "no snapshot taken without " << entry;
    }
#endif
}

// The comparison of base names follows the ANSI code page of the process;
// the build runs this program once in a single-byte and once in a
// double-byte locale, each with the case for its code page.
TEST(SameNameIgnoringCase, SingleByteCodePageFoldsOnlyAsciiLetters)
{
    ASSERT_EQ(::GetACP(), 1252u) << "this case runs in a locale with ANSI code page 1252";
    EXPECT_TRUE(SameNameIgnoringCase("MyApp.EXE", "myapp.exe"));
    EXPECT_TRUE(SameNameIgnoringCase("caf\xE9.exe", "CAF\xE9.EXE"));
    EXPECT_FALSE(SameNameIgnoringCase("caf\xE9.exe", "caf\xC9.exe")) << "e-acute does not fold onto E-acute";
    EXPECT_FALSE(SameNameIgnoringCase("@.exe", "`.exe")) << "0x40 and 0x60 are no letters";
    EXPECT_FALSE(SameNameIgnoringCase("[.exe", "{.exe")) << "0x5B and 0x7B are no letters";
    EXPECT_FALSE(SameNameIgnoringCase("app.exe", "app.exe ")) << "whole strings";
    EXPECT_TRUE(SameNameIgnoringCase("", ""));
}

TEST(SameNameIgnoringCase, DoubleByteCodePageTakesLeadAndTrailTogether)
{
    ASSERT_EQ(::GetACP(), 932u) << "this case runs in a Japanese locale (ANSI code page 932)";
    // Full-width A (82 60) and full-width a (82 81) fold to one character.
    EXPECT_TRUE(SameNameIgnoringCase("\x82\x60pp.exe", "\x82\x81PP.EXE")) << "full-width letters fold";
    // Katakana 83 41 and 83 61 are two characters whose trail bytes look
    // like 'A' and 'a': they belong to their lead byte and do not fold.
    EXPECT_FALSE(SameNameIgnoringCase("\x83\x41.exe", "\x83\x61.exe")) << "trail bytes are no ASCII letters";
    EXPECT_TRUE(SameNameIgnoringCase("\x83\x41.exe", "\x83\x41.EXE"));
    EXPECT_FALSE(SameNameIgnoringCase("\x83\x41x", "\x83"));
    EXPECT_TRUE(SameNameIgnoringCase("\x83", "\x83")) << "a lead byte at the end stands alone";
    EXPECT_TRUE(SameNameIgnoringCase("myapp.exe", "MYAPP.EXE")) << "single-byte letters still fold";
}
