// CountProcesses, CloseProcesses, TerminateProcesses, WaitForProcesses and
// FindFileUsers, ANSI and W, called through the DLL against real children:
// copies of ZorbProcHelper.exe (and of the helper of the other
// architecture, in the 64-bit prefix) in folders of their own, one kind of
// child each: a window that ends on WM_CLOSE, one that ignores it, one whose
// thread never reads its messages, and one without a window. Wine runs every
// process in session 1 under one user: the scopes are seen to count the
// children, never to leave out another user's or session's process, which
// Wine cannot make.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "setupsup.h"
#include "tests/common/export_forms.h"
#include "tests/common/test_support.h"
#include "tests/process/helper_process.h"

using process_test::HelperProcess;
using setupsup_test::CodePageToWide;
using setupsup_test::Export;
using setupsup_test::GuardedBuffer;
using setupsup_test::ProgramFile;
using setupsup_test::ScratchDir;

namespace {

// The children's name differs by the test program's architecture, so that
// the two builds' runs in one prefix never count each other's.
#ifdef _WIN64
constexpr char kOtherHelper[] = "ZorbOtherHelper32.exe";
constexpr char kKidName[] = "ZorbKid64.exe";
#else
constexpr char kOtherHelper[] = "ZorbOtherHelper64.exe";
constexpr char kKidName[] = "ZorbKid32.exe";
#endif
// What a call may take beyond its time-out: the system's answers, and a
// loaded machine under emulation.
constexpr DWORD kSlackMs = 3000;
constexpr DWORD kCloseWaitMs = 20000;

// The ANSI exports or their W twins, with the calls these tests make.
template <typename C>
struct Form : setupsup_test::ExportForm<C> {
    int Count(const C* image, DWORD scope) const
    {
        return this->template Get<int(WINAPI*)(const C*, DWORD)>("CountProcesses")(image, scope);
    }
    int Act(const char* name, const C* image, DWORD scope, DWORD timeoutMs) const
    {
        return this->template Get<int(WINAPI*)(const C*, DWORD, DWORD)>(name)(image, scope, timeoutMs);
    }
    int Users(const C* path, C* out, DWORD room) const
    {
        return this->template Get<int(WINAPI*)(const C*, C*, DWORD)>("FindFileUsers")(path, out, room);
    }
};

template <typename Check>
void ForEachForm(Check check)
{
    setupsup_test::ForEachForm<Form>(check);
}

bool BothArchitecturesRun() { return sizeof(void*) == 8 || setupsup_test::RunsUnderWow64(); }

// kKidName copied into dir\folder (the helper of this architecture, or of
// the other): its path.
std::string PlaceKid(const ScratchDir& dir, const std::string& folder, bool otherArchitecture = false)
{
    const std::string where = dir.File(folder);
    ::CreateDirectoryA(where.c_str(), nullptr);
    const std::string path = where + "\\" + kKidName;
    const std::string from = ProgramFile(otherArchitecture ? kOtherHelper : "ZorbProcHelper.exe");
    EXPECT_TRUE(::CopyFileA(from.c_str(), path.c_str(), FALSE)) << path;
    return path;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool Runs(HANDLE process) { return process && ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

DWORD ExitCodeOf(HANDLE process)
{
    ::WaitForSingleObject(process, kCloseWaitMs);
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    return code;
}

// The children of one table: one of each kind, each in its own folder.
struct KidKind {
    const char* mode;
    bool otherArchitecture;
    bool endsOnClose; // what CloseProcesses does to it
};
constexpr KidKind kKinds[] = {
    {"closes", false, true}, {"closes", true, true}, {"ignores", false, false}, {"ignores", true, false},
    {"hung", false, false},  {"hung", true, false},  {"sleep", false, false},   {"sleep", true, false},
};

struct Kid {
    KidKind kind;
    std::string path;
    std::unique_ptr<HelperProcess> process;
};

// One child of each kind the prefix runs, started; a failed start fails the test.
std::vector<Kid> StartKids(const ScratchDir& dir)
{
    std::vector<Kid> kids;
    int n = 0;
    for (const KidKind& kind : kKinds) {
        if (kind.otherArchitecture && !BothArchitecturesRun())
            continue;
        Kid kid{kind, PlaceKid(dir, "kid" + std::to_string(n++), kind.otherArchitecture), nullptr};
        kid.process = std::make_unique<HelperProcess>(kind.mode, kid.path);
        EXPECT_TRUE(kid.process->ready()) << kind.mode << " " << kid.path;
        kids.push_back(std::move(kid));
    }
    return kids;
}

} // namespace

// Matching by path tells two copies of one name apart; by name it does not.
// Both sides are compared after "/" and "\\?\" and 8.3 names are undone.
TEST(CountProcesses, ByPathAndByName)
{
    ScratchDir dir;
    const std::string first = PlaceKid(dir, "first folder with a long name"), second = PlaceKid(dir, "second");
    HelperProcess a("sleep", first), b("closes", second);
    ASSERT_TRUE(a.ready() && b.ready());
    char shortPath[MAX_PATH] = {};
    ASSERT_GT(::GetShortPathNameA(first.c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_NE(std::string(shortPath).find('~'), std::string::npos) << "the folder has an 8.3 name: " << shortPath;
    std::string slashes = first;
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    const std::string self = setupsup_test::ProgramFolder() + setupsup_test::ProgramBaseName();

    struct Row {
        std::string image;
        DWORD scope;
        int expected;
    };
    const Row rows[] = {
        {first, SETUPSUP_SCOPE_SESSION, 1},
        {second, SETUPSUP_SCOPE_SESSION, 1},
        {kKidName, SETUPSUP_SCOPE_SESSION, 2},
        {Upper(kKidName), SETUPSUP_SCOPE_USER, 2},
        {kKidName, SETUPSUP_SCOPE_ALL, 2},
        {slashes, SETUPSUP_SCOPE_SESSION, 1},
        {"\\\\?\\" + first, SETUPSUP_SCOPE_USER, 1},
        {shortPath, SETUPSUP_SCOPE_ALL, 1},
        {dir.File("third\\") + kKidName, SETUPSUP_SCOPE_ALL, 0},
        {self, SETUPSUP_SCOPE_ALL, 0}, // the caller is never counted
        {setupsup_test::ProgramBaseName(), SETUPSUP_SCOPE_ALL, 0},
        {"", SETUPSUP_SCOPE_SESSION, SETUPSUP_PROCESS_BAD_NAME},
        {std::string("second\\") + kKidName, SETUPSUP_SCOPE_SESSION, SETUPSUP_PROCESS_BAD_NAME},
        {kKidName, 3, SETUPSUP_PROCESS_BAD_SCOPE},
    };
    ForEachForm([&](auto form) {
        for (const Row& row : rows)
            EXPECT_EQ(form.Count(form.Of(row.image).c_str(), row.scope), row.expected)
                << row.image << " in scope " << row.scope;
        EXPECT_EQ(form.Count(nullptr, SETUPSUP_SCOPE_SESSION), SETUPSUP_PROCESS_BAD_NAME);
    });
    if (BothArchitecturesRun()) {
        // QueryFullProcessImageName names a 64-bit process to a 32-bit caller too.
        const std::string other = PlaceKid(dir, "other", true);
        HelperProcess c("sleep", other);
        ASSERT_TRUE(c.ready());
        ForEachForm([&](auto form) {
            EXPECT_EQ(form.Count(form.Of(other).c_str(), SETUPSUP_SCOPE_SESSION), 1) << other;
            EXPECT_EQ(form.Count(form.Of(kKidName).c_str(), SETUPSUP_SCOPE_SESSION), 3);
        });
    }
}

// WM_CLOSE is posted, never sent: the call returns within its time-out plus
// a small bound whatever the windows do, and counts what still runs.
TEST(CloseProcesses, EachKindOfChild)
{
    ForEachForm([&](auto form) {
        ScratchDir dir;
        std::vector<Kid> kids = StartKids(dir);
        for (const Kid& kid : kids) {
            SCOPED_TRACE(std::string(kid.kind.mode) + (kid.kind.otherArchitecture ? " (other architecture)" : ""));
            const DWORD timeout = kid.kind.endsOnClose ? kCloseWaitMs : 500;
            const DWORD start = ::GetTickCount();
            EXPECT_EQ(form.Act("CloseProcesses", form.Of(kid.path).c_str(), SETUPSUP_SCOPE_SESSION, timeout),
                      kid.kind.endsOnClose ? 0 : 1);
            const DWORD took = ::GetTickCount() - start;
            EXPECT_LT(took, timeout + kSlackMs) << "bounded by the time-out";
            if (kid.kind.endsOnClose) {
                EXPECT_LT(took, kCloseWaitMs / 2) << "returned as the child ended, not at the time-out";
                EXPECT_EQ(ExitCodeOf(kid.process->process()), 0u) << "ended by its own WM_CLOSE handling";
            } else {
                EXPECT_GE(took + 50, timeout) << "waited for the child";
                EXPECT_TRUE(Runs(kid.process->process())) << "still runs";
            }
        }
        // By name: the children left are all still counted.
        EXPECT_EQ(form.Act("CloseProcesses", form.Of(kKidName).c_str(), SETUPSUP_SCOPE_ALL, 200),
                  std::count_if(kids.begin(), kids.end(), [](const Kid& k) { return !k.kind.endsOnClose; }));
        EXPECT_EQ(form.Act("CloseProcesses", nullptr, SETUPSUP_SCOPE_ALL, 0), SETUPSUP_PROCESS_BAD_NAME);
        EXPECT_EQ(form.Act("CloseProcesses", form.Of(kKidName).c_str(), 7, 0), SETUPSUP_PROCESS_BAD_SCOPE);
    });
}

// Every kind ends, with the exit code the export documents. (A process the
// caller may not end cannot be made under Wine, whose token may end all.)
TEST(TerminateProcesses, EndsEveryKindOfChild)
{
    ForEachForm([&](auto form) {
        ScratchDir dir;
        std::vector<Kid> kids = StartKids(dir);
        EXPECT_EQ(form.Act("TerminateProcesses", form.Of("").c_str(), SETUPSUP_SCOPE_ALL, 0),
                  SETUPSUP_PROCESS_BAD_NAME);
        for (const Kid& kid : kids)
            EXPECT_TRUE(Runs(kid.process->process())) << "bad input ends nothing: " << kid.path;
        EXPECT_EQ(form.Act("TerminateProcesses", form.Of(kKidName).c_str(), SETUPSUP_SCOPE_SESSION, kCloseWaitMs), 0);
        for (const Kid& kid : kids)
            EXPECT_EQ(ExitCodeOf(kid.process->process()), 1u) << kid.kind.mode << " " << kid.path;
        EXPECT_EQ(form.Count(form.Of(kKidName).c_str(), SETUPSUP_SCOPE_ALL), 0);
    });
}

// The wait ends as the last child ends, or at the time-out with the count.
TEST(WaitForProcesses, ReturnsAsTheLastEnds)
{
    struct Row {
        DWORD firstEndsMs, secondEndsMs, timeoutMs;
        int expected;
    };
    const Row rows[] = {{100, 700, kCloseWaitMs, 0}, {100, 5000, 800, 1}, {3000, 3000, 300, 2}};
    ForEachForm([&](auto form) {
        for (const Row& row : rows) {
            ScratchDir dir;
            const std::string path = PlaceKid(dir, "waited");
            HelperProcess first("sleep", path), second("closes", path);
            ASSERT_TRUE(first.ready() && second.ready());
            std::thread stopper([&] {
                ::Sleep(row.firstEndsMs);
                first.Stop();
                ::Sleep(row.secondEndsMs - row.firstEndsMs);
                second.Stop();
            });
            const DWORD start = ::GetTickCount();
            EXPECT_EQ(form.Act("WaitForProcesses", form.Of(path).c_str(), SETUPSUP_SCOPE_SESSION, row.timeoutMs),
                      row.expected)
                << "children ending after " << row.firstEndsMs << " and " << row.secondEndsMs << " ms";
            const DWORD took = ::GetTickCount() - start;
            const DWORD end = std::min(row.secondEndsMs, row.timeoutMs);
            EXPECT_GE(took + 50, std::min(end, row.timeoutMs));
            EXPECT_LT(took, end + kSlackMs) << "no wait beyond the last end or the time-out";
            stopper.join();
        }
    });
}

// A child found by a DLL it loaded from the install folder, another by its
// image there; the lines are whole image paths, cut only between lines.
TEST(FindFileUsers, ImagesAndModulesUnderAPath)
{
    ScratchDir dir;
    const std::string install = dir.File("install");
    ::CreateDirectoryA(install.c_str(), nullptr);
    ::CreateDirectoryA((install + "\\lib").c_str(), nullptr);
    const std::string dll = install + "\\lib\\setupsup.dll";
    ASSERT_TRUE(::CopyFileA(ProgramFile("setupsup.dll").c_str(), dll.c_str(), FALSE));
    const std::string loader = PlaceKid(dir, "elsewhere"), inside = PlaceKid(dir, "install\\bin");
    HelperProcess a("load:" + dll, loader), b("sleep", inside);
    ASSERT_TRUE(a.ready() && b.ready());
    std::vector<std::string> users = {loader, inside};
    std::string other;
    std::unique_ptr<HelperProcess> c;
    if (BothArchitecturesRun()) {
        // Found by its image: the 32-bit DLL cannot read a 64-bit module list
        // (Windows refuses with 299, Wine with 998), the image path it can.
        other = PlaceKid(dir, "install\\other", true);
        c = std::make_unique<HelperProcess>("sleep", other);
        ASSERT_TRUE(c->ready());
        users.push_back(other);
    }
    const std::string empty = dir.File("empty");
    ::CreateDirectoryA(empty.c_str(), nullptr);
    std::string slashes = install + "\\";
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    // A line is the path, CR LF; the room holds the NUL too.
    const DWORD loaderLine = static_cast<DWORD>(loader.size() + 3);
    size_t longest = 0;
    for (const std::string& user : users)
        longest = std::max(longest, user.size());

    struct Row {
        std::string path;
        DWORD room;
        int expected;
        std::vector<std::string> lines; // these, in any order; with anyOne, one line of users
        bool anyOne = false;
    };
    const int all = static_cast<int>(users.size());
    std::vector<std::string> upperUsers;
    for (const std::string& user : users)
        upperUsers.push_back(Upper(user));
    const Row rows[] = {
        {install, 4096, all, users},
        {slashes, 4096, all, users},
        {"\\\\?\\" + install, 4096, all, users},
        {dll, 4096, 1, {loader}},
        {dir.File("elsewhere"), 4096, 1, {loader}},
        {empty, 4096, 0, {}},
        {install, static_cast<DWORD>(longest + 3), all, {}, true}, // any one line fits, never two
        {install, 1, all, {}},
        {dll, loaderLine, 1, {loader}},
        {dll, loaderLine - 1, 1, {}},
        {"install\\lib", 16, SETUPSUP_PROCESS_BAD_NAME, {}},
        {"", 16, SETUPSUP_PROCESS_BAD_NAME, {}},
    };
    ForEachForm([&](auto form) {
        using C = typename decltype(form)::Char;
        for (const Row& row : rows) {
            SCOPED_TRACE(row.path + " in " + std::to_string(row.room) + " characters");
            // The buffer ends at an inaccessible page: a write past room faults.
            GuardedBuffer buffer(row.room * sizeof(C));
            C* out = buffer.As<C>();
            EXPECT_EQ(form.Users(form.Of(row.path).c_str(), out, row.room), row.expected);
            if (row.expected < 0) {
                EXPECT_EQ(buffer.data()[0], 'x') << "nothing written";
                continue;
            }
            std::string text = setupsup_test::Utf8(std::wstring(out, out + std::char_traits<C>::length(out)));
            std::vector<std::string> lines;
            // Compared as the file system compares names: case ignored.
            for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
                lines.push_back(Upper(text.substr(at, end - at)));
            EXPECT_EQ(text.size(), lines.empty() ? 0 : text.rfind("\r\n") + 2) << "whole lines only: " << text;
            for (const std::string& line : lines)
                EXPECT_NE(std::find(upperUsers.begin(), upperUsers.end(), line), upperUsers.end()) << line;
            if (row.anyOne) {
                EXPECT_EQ(lines.size(), 1u) << "room for one line: " << text;
            } else {
                std::vector<std::string> want, got = lines;
                for (const std::string& line : row.lines)
                    want.push_back(Upper(line));
                std::sort(want.begin(), want.end());
                std::sort(got.begin(), got.end());
                EXPECT_EQ(got, want) << "distinct image paths, one a line";
            }
        }
        EXPECT_EQ(form.Users(nullptr, nullptr, 0), SETUPSUP_PROCESS_BAD_NAME);
        EXPECT_EQ(form.Users(form.Of(install).c_str(), nullptr, 10), SETUPSUP_PROCESS_BAD_BUFFER);
        EXPECT_EQ(form.Users(form.Of(install).c_str(), nullptr, 0), all) << "counted without a buffer";
        // The Restart Manager was asked (loaded from the system folder and
        // kept); Wine's is a stub that names no process, so the counts above
        // are the walk's alone there.
        EXPECT_NE(::GetModuleHandleA("rstrtmgr.dll"), nullptr);
        // The caller loaded setupsup.dll from its own folder and is never listed.
        std::vector<C> listed(4096);
        EXPECT_GE(form.Users(form.Of(ProgramFile("setupsup.dll")).c_str(), listed.data(), 4096), 0);
        const auto self = form.Of(setupsup_test::ProgramBaseName());
        EXPECT_EQ(std::basic_string<C>(listed.data()).find(self), std::basic_string<C>::npos);
    });
    // Longer than MAX_PATH through the W export: a folder no process uses.
    std::wstring deep = L"\\\\?\\" + CodePageToWide(CP_ACP, install);
    while (deep.size() < 2 * MAX_PATH) {
        deep += L"\\a-folder-of-forty-characters-in-its-name";
        ASSERT_TRUE(::CreateDirectoryW(deep.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    }
    EXPECT_EQ(Export<PFN_FindFileUsersW>("FindFileUsersW")(deep.c_str() + 4, nullptr, 0), 0) << "no user, no failure";
    EXPECT_EQ(Export<PFN_FindFileUsersW>("FindFileUsersW")(deep.c_str(), nullptr, 0), 0);
    EXPECT_EQ(
        Export<PFN_CountProcessesW>("CountProcessesW")((deep + L"\\" + CodePageToWide(CP_ACP, kKidName)).c_str(), 0),
        0);
    for (; deep.size() > install.size() + 4; deep.resize(deep.rfind(L'\\')))
        ::RemoveDirectoryW(deep.c_str());
}
