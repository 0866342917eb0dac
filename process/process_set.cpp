// One walk of the running processes for the exports that count, close, end,
// wait for or name them. The NT family lists process ids through the
// process-status library (as IsZORBAppRunning does) and reads each
// process's full image path through the newest call the system has:
// QueryFullProcessImageName (Vista and later, also for a 64-bit process seen
// from WoW64), else the process-status library's module file name (NT 4.0 to
// XP). The Windows 95 family's tool-help records carry the full path
// themselves. Every entry point newer than the oldest target is resolved at
// run time into tables of the call's own (frame/system_entries.h).
#include "process/process_set.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

#include "frame/ansi_fallback.h"
#include "frame/invariants.h"
#include "frame/system_entries.h"
#include "frame/text.h"
#include "process/running_instance.h"
#include "setupsup.h"

namespace setupsup {

bool ProcessSet::Add(DWORD id, unique_handle process) noexcept
{
    if (count_ == kMaxProcesses || Contains(id))
        return false;
    ids_[count_] = id;
    handles_[count_] = std::move(process);
    ++count_;
    return true;
}

bool ProcessSet::Contains(DWORD id) const noexcept
{
    for (DWORD i = 0; i < count_; ++i)
        if (ids_[i] == id)
            return true;
    return false;
}

namespace {

// PROCESS_QUERY_LIMITED_INFORMATION (Vista and later): granted where the
// full query right is not (an elevated process, another user's); enough for
// the image path, the session and the token.
constexpr DWORD kLimitedQuery = 0x1000;
constexpr DWORD kFullQuery = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
// The longest path the system has (a \\?\ path), in characters.
constexpr DWORD kPathRoom = 32768;
// The modules of one process looked at by FindFileUsers.
constexpr DWORD kMaxModules = 1024;
// Room for a TOKEN_USER with the longest SID (SECURITY_MAX_SID_SIZE, 68).
constexpr DWORD kTokenUserRoom = 128;
constexpr TextLiteral kLongPathPrefix = SETUPSUP_TEXT("\\\\?\\");
constexpr TextLiteral kLongUncPrefix = SETUPSUP_TEXT("\\\\?\\UNC\\");
constexpr TextLiteral kLineEnd = SETUPSUP_TEXT("\r\n");

// A path buffer of kPathRoom characters, from the process heap: a call
// holds two or three, more than a thread's stack should carry.
template <typename Char>
class PathBuffer {
public:
    PathBuffer() noexcept : block_(::LocalAlloc(LMEM_FIXED, kPathRoom * sizeof(Char))) {}
    explicit operator bool() const noexcept { return static_cast<bool>(block_); }
    Char* get() const noexcept { return static_cast<Char*>(block_.get()); }

private:
    unique_hlocal block_;
};

// The caller, as the scopes compare other processes with it.
struct Caller {
    DWORD id = 0;
    bool hasSessions = false; // false: the system has one session
    DWORD session = 0;
    alignas(void*) BYTE user[kTokenUserRoom] = {};
};

// What one NT-family walk needs, resolved at its start.
template <typename Char>
struct NtWalk {
    NtEntries<Char> entries;
    SecurityEntries security;
    Caller caller;
    DWORD scope = SETUPSUP_SCOPE_SESSION;
};

// The next character of text, and whether it is a path separator. An ANSI
// text is walked by the multibyte rule: a trail byte may be 0x5C.
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
const wchar_t* NextCharacter(const wchar_t* p) { return p + 1; }
const char* NextCharacter(const char* p)
{
    return ::IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*p)) && p[1] ? p + 2 : p + 1;
}

template <typename Char>
bool HasSeparator(const Char* text)
{
    for (const Char* p = text; *p; p = NextCharacter(p))
        if (IsSeparator(*p))
            return true;
    return false;
}

template <typename Char>
bool IsAsciiLetter(Char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A drive path (C:\...) or a UNC or \\?\ path; never one relative to a
// current folder or drive.
template <typename Char>
bool IsFullPath(const Char* path)
{
    if (IsAsciiLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]))
        return true;
    return IsSeparator(path[0]) && IsSeparator(path[1]);
}

template <typename Char>
bool StartsWith(const Char* text, const Char* prefix, size_t* length)
{
    *length = TextLength(prefix);
    return std::char_traits<Char>::compare(text, prefix, *length) == 0;
}

// path, in room characters, in the form both sides are compared in:
// backslashes only, 8.3 names in their long form where the system can tell
// it (a path with no '~' has none), no \\?\ prefix.
template <typename Char>
void NormalisePath(const KernelEntries& kernel, Char* path, DWORD room)
{
    bool shortName = false;
    for (Char* p = path; *p; p = const_cast<Char*>(NextCharacter(p))) {
        if (*p == '/')
            *p = '\\';
        shortName |= *p == '~';
    }
    // The same buffer in and out, as the system allows; a failure (the file
    // is gone, the path too long) leaves the path as it was.
    if (const auto expand = LongPathQuery(kernel, Char{}); shortName && expand)
        expand(path, path, room);
    size_t prefix = 0;
    if (StartsWith(path, kLongUncPrefix.Of<Char>(), &prefix)) {
        // "\\?\UNC\server\share" becomes "\\server\share".
        std::char_traits<Char>::move(path + 2, path + prefix, TextLength(path + prefix) + 1);
    } else if (StartsWith(path, kLongPathPrefix.Of<Char>(), &prefix)) {
        std::char_traits<Char>::move(path, path + prefix, TextLength(path + prefix) + 1);
    }
}

// The caller's own path argument copied and normalised into *buffer,
// without trailing backslashes but a root's ("C:\\"); false when it does not
// fit or memory ran out.
template <typename Char>
bool WantedPath(const KernelEntries& kernel, const Char* path, PathBuffer<Char>* buffer)
{
    size_t length = TextLength(path);
    if (!*buffer || length >= kPathRoom)
        return false;
    Char* wanted = buffer->get();
    std::char_traits<Char>::copy(wanted, path, length + 1);
    NormalisePath(kernel, wanted, kPathRoom);
    length = TextLength(static_cast<const Char*>(wanted));
    while (length > 3 && wanted[length - 1] == '\\')
        wanted[--length] = 0;
    return true;
}

// True when candidate (normalised) is the path wanted (a WantedPath) or lies
// under it as a folder.
template <typename Char>
bool LiesUnder(Char* candidate, const Char* wanted)
{
    const size_t length = TextLength(wanted);
    const size_t candidateLength = TextLength(static_cast<const Char*>(candidate));
    if (candidateLength < length || length == 0)
        return false;
    if (candidateLength > length && candidate[length] != '\\' && wanted[length - 1] != '\\')
        return false;
    // The leading part compared in place: its end marked, then put back.
    const Char kept = candidate[length];
    candidate[length] = 0;
    const bool same = SameNameIgnoringCase(static_cast<const Char*>(candidate), wanted);
    candidate[length] = kept;
    return same;
}

// ---- NT family ------------------------------------------------------------

// The process opened for the query and for access (0: for the query only).
// *granted tells whether the handle has access; where it does not, a handle
// for the query alone is still returned.
unique_handle OpenForQuery(DWORD processId, DWORD access, bool* granted)
{
    *granted = true;
    for (DWORD query : {kFullQuery, kLimitedQuery})
        if (unique_handle process(::OpenProcess(query | access, FALSE, processId)); process)
            return process;
    *granted = access == 0;
    if (access == 0)
        return unique_handle();
    for (DWORD query : {kFullQuery, kLimitedQuery})
        if (unique_handle process(::OpenProcess(query, FALSE, processId)); process)
            return process;
    return unique_handle();
}

// The user's SID of a token-holding process into user (kTokenUserRoom).
bool ReadTokenUser(const SecurityEntries& security, HANDLE process, BYTE* user)
{
    HANDLE raw = nullptr;
    if (!security.openProcessToken(process, TOKEN_QUERY, &raw))
        return false;
    unique_handle token(raw);
    DWORD needed = 0;
    return security.getTokenInformation(token.get(), TokenUser, user, kTokenUserRoom, &needed) != FALSE;
}

PSID UserSid(const BYTE* user) { return reinterpret_cast<const TOKEN_USER*>(user)->User.Sid; }

// The caller's session (for SETUPSUP_SCOPE_SESSION) or user (for
// SETUPSUP_SCOPE_USER); false when it cannot be read.
bool ReadCaller(const KernelEntries& kernel, const SecurityEntries& security, DWORD scope, Caller* caller)
{
    if (scope == SETUPSUP_SCOPE_USER)
        return ReadTokenUser(security, ::GetCurrentProcess(), caller->user);
    caller->hasSessions = kernel.processIdToSessionId != nullptr;
    return !caller->hasSessions || kernel.processIdToSessionId(caller->id, &caller->session);
}

// Whether the process counts in the walk's scope: one whose session or user
// cannot be read counts only in SETUPSUP_SCOPE_ALL.
template <typename Char>
bool InScope(const NtWalk<Char>& walk, DWORD processId, HANDLE process)
{
    if (walk.scope == SETUPSUP_SCOPE_ALL)
        return true;
    if (walk.scope == SETUPSUP_SCOPE_SESSION) {
        DWORD session = 0;
        return !walk.caller.hasSessions ||
               (walk.entries.kernel.processIdToSessionId(processId, &session) && session == walk.caller.session);
    }
    alignas(void*) BYTE user[kTokenUserRoom] = {};
    return process && ReadTokenUser(walk.security, process, user) &&
           walk.security.equalSid(UserSid(user), UserSid(walk.caller.user));
}

// The process's full image path into path (kPathRoom), not yet normalised.
template <typename Char>
bool ReadImagePath(const NtEntries<Char>& entries, HANDLE process, Char* path)
{
    if (const auto query = ImagePathQuery(entries.kernel, Char{})) {
        DWORD size = kPathRoom;
        return query(process, 0, path, &size) && size < kPathRoom;
    }
    if (!entries.status.getModuleFileNameEx)
        return false;
    const DWORD length = entries.status.getModuleFileNameEx(process, nullptr, path, kPathRoom);
    return length > 0 && length < kPathRoom;
}

// The image path read and normalised; false when it cannot be read.
template <typename Char>
bool NormalisedImagePath(const NtEntries<Char>& entries, HANDLE process, Char* path)
{
    if (!process || !ReadImagePath(entries, process, path))
        return false;
    NormalisePath(entries.kernel, path, kPathRoom);
    return true;
}

// Resolves what an NT-family walk needs; false when the process ids or the
// caller cannot be had.
template <typename Char>
bool StartNtWalk(DWORD scope, NtWalk<Char>* walk)
{
    walk->scope = scope;
    walk->caller.id = ::GetCurrentProcessId();
    if (!ResolveProcessStatusEntries(&walk->entries.status) || !ResolveKernelEntries(&walk->entries.kernel))
        return false;
    if (scope == SETUPSUP_SCOPE_ALL)
        return true;
    return (scope != SETUPSUP_SCOPE_USER || ResolveSecurityEntries(&walk->security)) &&
           ReadCaller(walk->entries.kernel, walk->security, scope, &walk->caller);
}

// Every process but the caller, in the walk's scope, for which match(id,
// process) holds is added to *set with a handle of access rights (none for
// 0): the number added, or SETUPSUP_PROCESS_NOT_LISTED.
template <typename Char, typename Match>
int WalkNt(const NtWalk<Char>& walk, DWORD access, const Match& match, ProcessSet* set)
{
    DWORD ids[kMaxProcesses];
    DWORD bytesFilled = 0;
    if (!walk.entries.status.enumProcesses(ids, sizeof ids, &bytesFilled))
        return SETUPSUP_PROCESS_NOT_LISTED;
    const DWORD reported = bytesFilled / static_cast<DWORD>(sizeof ids[0]);
    const DWORD listed = reported < kMaxProcesses ? reported : kMaxProcesses; // never beyond the array
    int added = 0;
    for (DWORD i = 0; i < listed; ++i) {
        const DWORD id = ids[i];
        if (id == 0 || id == walk.caller.id)
            continue;
        bool granted = false;
        unique_handle process = OpenForQuery(id, access, &granted);
        if (!InScope(walk, id, process.get()) || !match(id, process.get()))
            continue;
        if (!granted || access == 0)
            process.reset();
        added += set->Add(id, std::move(process)) ? 1 : 0;
    }
    return added;
}

// ---- Windows 95 family ------------------------------------------------------

#ifndef _WIN64
// The family has one session and one user: every process is in every
// scope. match(entry) decides; the walk adds as WalkNt does.
template <typename Match>
int Walk9x(DWORD access, const Match& match, ProcessSet* set)
{
    KernelEntries kernel;
    if (!ResolveKernelEntries(&kernel) || !HasToolHelp(kernel))
        return SETUPSUP_PROCESS_NOT_LISTED;
    unique_hfile snapshot(kernel.createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return SETUPSUP_PROCESS_NOT_LISTED;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int added = 0;
    for (BOOL more = kernel.process32First(snapshot.get(), &entry); more;
         more = kernel.process32Next(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == ::GetCurrentProcessId() || !match(kernel, entry))
            continue;
        unique_handle process(access ? ::OpenProcess(access, FALSE, entry.th32ProcessID) : nullptr);
        added += set->Add(entry.th32ProcessID, std::move(process)) ? 1 : 0;
    }
    return added;
}

// A tool-help path (MAX_PATH bytes) copied into path and normalised.
void NormalisedRecordPath(const KernelEntries& kernel, const char* record, size_t size, char* path)
{
    const size_t length = ::strnlen(record, size);
    std::char_traits<char>::copy(path, record, length);
    path[length] = 0;
    NormalisePath(kernel, path, kPathRoom);
}
#endif

// The walk of the system's family for the matches of image.
template <typename Char>
int FindImage(const Char* image, DWORD scope, DWORD access, ProcessSet* set)
{
    const bool byPath = HasSeparator(image);
    PathBuffer<Char> wanted, candidate;
    if (byPath && (!wanted || !candidate))
        return SETUPSUP_PROCESS_NOT_LISTED;
#ifndef _WIN64
    if constexpr (std::is_same_v<Char, char>) {
        if (IsWindows95Family()) {
            KernelEntries kernel;
            ResolveKernelEntries(&kernel);
            unique_hlocal upper;
            std::string_view name;
            if (byPath ? !WantedPath(kernel, image, &wanted) : !UpperName9x(image, &upper, &name))
                return SETUPSUP_PROCESS_NOT_LISTED;
            return Walk9x(
                access,
                [&](const KernelEntries& k, const PROCESSENTRY32& entry) {
                    if (!byPath)
                        return ExeFileHasName9x(entry.szExeFile, sizeof entry.szExeFile, name);
                    NormalisedRecordPath(k, entry.szExeFile, sizeof entry.szExeFile, candidate.get());
                    return SameNameIgnoringCase(static_cast<const char*>(candidate.get()),
                                                static_cast<const char*>(wanted.get()));
                },
                set);
        }
    }
#endif
    NtWalk<Char> walk;
    if (!StartNtWalk(scope, &walk) || (byPath && !WantedPath(walk.entries.kernel, image, &wanted)))
        return SETUPSUP_PROCESS_NOT_LISTED;
    return WalkNt(
        walk, access,
        [&](DWORD id, HANDLE process) {
            if (!byPath)
                return ProcessHasBaseName(walk.entries, id, image);
            return NormalisedImagePath(walk.entries, process, candidate.get()) &&
                   SameNameIgnoringCase(static_cast<const Char*>(candidate.get()),
                                        static_cast<const Char*>(wanted.get()));
        },
        set);
}

// ---- The lines of FindFileUsers --------------------------------------------

// The caller's buffer of image paths, one a line, whole lines only. The
// first line that does not fit ends the list: a later line that is the
// same path would not fit either, so the lines written are distinct by
// comparing with them alone.
template <typename Char>
class UserLines {
public:
    UserLines(Char* out, DWORD room) noexcept : out_(out), room_(room)
    {
        if (room_ > 0)
            out_[0] = 0;
    }

    void Add(const Char* path)
    {
        const size_t length = TextLength(path);
        if (full_ || Written(path, length))
            return;
        const size_t end = TextLength(kLineEnd.Of<Char>());
        if (used_ + length + end + 1 > room_) {
            full_ = true;
            return;
        }
        std::char_traits<Char>::copy(out_ + used_, path, length);
        std::char_traits<Char>::copy(out_ + used_ + length, kLineEnd.Of<Char>(), end + 1);
        used_ += length + end;
    }

private:
    bool Written(const Char* path, size_t length) const
    {
        const size_t end = TextLength(kLineEnd.Of<Char>());
        for (size_t at = 0; at < used_;) {
            size_t line = 0;
            while (out_[at + line] != '\r')
                ++line;
            if (line == length && std::char_traits<Char>::compare(out_ + at, path, length) == 0)
                return true;
            at += line + end;
        }
        return false;
    }

    Char* out_;
    size_t room_;
    size_t used_ = 0;
    bool full_ = false;
};

// Whether the process's image (in *image, normalised) or one of its modules
// lies at wanted. A module list that cannot be read (a 64-bit process seen
// from a 32-bit caller) leaves the image alone to decide.
template <typename Char>
bool UsesPath(const NtEntries<Char>& entries, HANDLE process, const Char* wanted, Char* image, Char* module)
{
    if (!NormalisedImagePath(entries, process, image))
        return false;
    if (LiesUnder(image, wanted))
        return true;
    HMODULE modules[kMaxModules];
    DWORD needed = 0;
    if (!entries.status.getModuleFileNameEx ||
        !entries.status.enumProcessModules(process, modules, static_cast<DWORD>(sizeof modules), &needed))
        return false;
    const DWORD reported = needed / static_cast<DWORD>(sizeof modules[0]);
    const DWORD count = reported < kMaxModules ? reported : kMaxModules;
    for (DWORD i = 0; i < count; ++i) {
        const DWORD length = entries.status.getModuleFileNameEx(process, modules[i], module, kPathRoom);
        if (length == 0 || length >= kPathRoom)
            continue;
        NormalisePath(entries.kernel, module, kPathRoom);
        if (LiesUnder(module, wanted))
            return true;
    }
    return false;
}

// The path as the Restart Manager takes it: UTF-16 (an ANSI path converted
// into *buffer); null when it cannot be had.
const wchar_t* WidePath(const wchar_t* path, PathBuffer<wchar_t>*) { return path; }
const wchar_t* WidePath(const char* path, PathBuffer<wchar_t>* buffer)
{
    const int room = static_cast<int>(kPathRoom); // 32768 fits an int
    if (!*buffer || ::MultiByteToWideChar(CP_ACP, 0, path, -1, buffer->get(), room) == 0)
        return nullptr;
    return buffer->get();
}

// The processes the Restart Manager names as users of path, where it is
// present and answers: each in the caller's session and not yet in *set is
// added, its image path written as a line.
template <typename Char>
void AddRestartManagerUsers(const NtWalk<Char>& walk, const Char* path, UserLines<Char>* lines, Char* image,
                            ProcessSet* set)
{
    RestartManagerEntries rm;
    PathBuffer<wchar_t> buffer;
    const wchar_t* wide = nullptr;
    if (!ResolveRestartManagerEntries(&rm) || (wide = WidePath(path, &buffer)) == nullptr)
        return;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (rm.startSession(&session, 0, key) != ERROR_SUCCESS)
        return;
    const WCHAR* files[] = {wide};
    UINT needed = 0, count = 0;
    DWORD reasons = 0;
    unique_hlocal block;
    if (rm.registerResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
        rm.getList(session, &needed, &count, nullptr, &reasons) == ERROR_MORE_DATA && needed > 0) {
        block.reset(::LocalAlloc(LMEM_FIXED, needed * sizeof(RM_PROCESS_INFO)));
        count = needed;
        if (!block ||
            rm.getList(session, &needed, &count, static_cast<RM_PROCESS_INFO*>(block.get()), &reasons) != ERROR_SUCCESS)
            count = 0;
    }
    rm.endSession(session);
    const auto* named = static_cast<const RM_PROCESS_INFO*>(block.get());
    for (UINT i = 0; named && i < count; ++i) {
        const DWORD id = named[i].Process.dwProcessId;
        if (id == walk.caller.id || set->Contains(id))
            continue;
        bool granted = false;
        unique_handle process = OpenForQuery(id, 0, &granted);
        if (!process || !InScope(walk, id, process.get()) || !NormalisedImagePath(walk.entries, process.get(), image))
            continue;
        if (set->Add(id, unique_handle()))
            lines->Add(image);
    }
}

template <typename Char>
int FindUsersNt(const Char* path, UserLines<Char>* lines, ProcessSet* set)
{
    NtWalk<Char> walk;
    PathBuffer<Char> wanted, image, module;
    if (!image || !module || !StartNtWalk(SETUPSUP_SCOPE_SESSION, &walk) ||
        !WantedPath(walk.entries.kernel, path, &wanted))
        return SETUPSUP_PROCESS_NOT_LISTED;
    const int found = WalkNt(
        walk, 0,
        [&](DWORD, HANDLE process) {
            if (!UsesPath(walk.entries, process, static_cast<const Char*>(wanted.get()), image.get(), module.get()))
                return false;
            lines->Add(image.get());
            return true;
        },
        set);
    if (found < 0)
        return found;
    AddRestartManagerUsers(walk, path, lines, image.get(), set);
    return static_cast<int>(set->count());
}

#ifndef _WIN64
// The modules of one process of the Windows 95 family, from its tool-help
// module records: true when one lies at wanted.
bool ModulesUse9x(const KernelEntries& kernel, DWORD processId, const char* wanted, char* module)
{
    unique_hfile snapshot(kernel.createToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!snapshot)
        return false;
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = kernel.module32First(snapshot.get(), &entry); more;
         more = kernel.module32Next(snapshot.get(), &entry)) {
        NormalisedRecordPath(kernel, entry.szExePath, sizeof entry.szExePath, module);
        if (LiesUnder(module, wanted))
            return true;
    }
    return false;
}

int FindUsers9x(const char* path, UserLines<char>* lines, ProcessSet* set)
{
    KernelEntries kernel;
    ResolveKernelEntries(&kernel);
    PathBuffer<char> wanted, image, module;
    if (!image || !module || !WantedPath(kernel, path, &wanted))
        return SETUPSUP_PROCESS_NOT_LISTED;
    const int found = Walk9x(
        0,
        [&](const KernelEntries& k, const PROCESSENTRY32& entry) {
            NormalisedRecordPath(k, entry.szExeFile, sizeof entry.szExeFile, image.get());
            if (!LiesUnder(image.get(), wanted.get()) &&
                !ModulesUse9x(k, entry.th32ProcessID, wanted.get(), module.get()))
                return false;
            lines->Add(image.get());
            return true;
        },
        set);
    return found < 0 ? found : static_cast<int>(set->count());
}
#endif

} // namespace

template <typename Char>
int FindProcesses(const Char* image, DWORD scope, DWORD access, ProcessSet* set)
{
    SETUPSUP_ASSERT(set != nullptr);
    if (!image || !*image || (HasSeparator(image) && !IsFullPath(image)))
        return SETUPSUP_PROCESS_BAD_NAME;
    if (scope != SETUPSUP_SCOPE_SESSION && scope != SETUPSUP_SCOPE_USER && scope != SETUPSUP_SCOPE_ALL)
        return SETUPSUP_PROCESS_BAD_SCOPE;
    return FindImage(image, scope, access, set);
}

template <typename Char>
int ListFileUsers(const Char* path, Char* out, DWORD room, ProcessSet* set)
{
    SETUPSUP_ASSERT(set != nullptr);
    if (!path || !*path || !IsFullPath(path))
        return SETUPSUP_PROCESS_BAD_NAME;
    if (!out && room > 0)
        return SETUPSUP_PROCESS_BAD_BUFFER;
    UserLines<Char> lines(out, room);
#ifndef _WIN64
    if constexpr (std::is_same_v<Char, char>)
        if (IsWindows95Family())
            return FindUsers9x(path, &lines, set);
#endif
    return FindUsersNt(path, &lines, set);
}

template int FindProcesses(const char*, DWORD, DWORD, ProcessSet*);
template int FindProcesses(const wchar_t*, DWORD, DWORD, ProcessSet*);
template int ListFileUsers(const char*, char*, DWORD, ProcessSet*);
template int ListFileUsers(const wchar_t*, wchar_t*, DWORD, ProcessSet*);

namespace {

BOOL CALLBACK PostCloseIfMatched(HWND window, LPARAM parameter)
{
    const auto* set = reinterpret_cast<const ProcessSet*>(parameter);
    DWORD id = 0;
    ::GetWindowThreadProcessId(window, &id);
    if (set->Contains(id))
        ::PostMessageA(window, WM_CLOSE, 0, 0); // posted: a hung window never holds the call
    return TRUE;
}

// Milliseconds left of timeoutMs since start (GetTickCount's wrap included).
DWORD Remaining(DWORD start, DWORD timeoutMs)
{
    const DWORD elapsed = ::GetTickCount() - start;
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

} // namespace

void PostCloseToWindows(const ProcessSet& set)
{
    if (set.count() > 0)
        ::EnumWindows(PostCloseIfMatched, reinterpret_cast<LPARAM>(&set));
}

int StillRunningAfter(const ProcessSet& set, DWORD timeoutMs)
{
    const DWORD start = ::GetTickCount();
    HANDLE group[MAXIMUM_WAIT_OBJECTS];
    DWORD filled = 0;
    for (DWORD i = 0; i <= set.count(); ++i) {
        // Each full group (and the last) is waited for whole, within what
        // is left of the caller's time.
        if (filled > 0 && (i == set.count() || filled == MAXIMUM_WAIT_OBJECTS)) {
            ::WaitForMultipleObjects(filled, group, TRUE, Remaining(start, timeoutMs));
            filled = 0;
        }
        if (i < set.count() && set.handle(i))
            group[filled++] = set.handle(i);
    }
    int running = 0;
    for (DWORD i = 0; i < set.count(); ++i)
        running += !set.handle(i) || ::WaitForSingleObject(set.handle(i), 0) != WAIT_OBJECT_0 ? 1 : 0;
    return running;
}

} // namespace setupsup
