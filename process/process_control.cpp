// The processes of an executable, counted, asked to close, ended or waited
// for, and the processes that use a file or folder. Each export is one walk
// (process/process_set.h) and what it does with the matches; every wait is
// on the processes' own handles and ends within the caller's time.
#include <windows.h>

#include <type_traits>

#include "frame/text.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "process/process_set.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// The exit code of a process TerminateProcesses ends.
constexpr UINT kTerminatedExitCode = 1;

// The matches of image in scope, counted.
template <typename Char>
int CountMatches(const Char* image, DWORD scope)
{
    ProcessSet set;
    return FindProcesses(image, scope, 0, &set);
}

// WM_CLOSE posted to each match's top-level windows, then the wait: the
// matches still running after timeoutMs.
template <typename Char>
int CloseMatches(const Char* image, DWORD scope, DWORD timeoutMs)
{
    ProcessSet set;
    const int found = FindProcesses(image, scope, SYNCHRONIZE, &set);
    if (found <= 0)
        return found;
    PostCloseToWindows(set);
    return StillRunningAfter(set, timeoutMs);
}

// Each match ended, then the wait for the system to finish them: the
// matches still running after timeoutMs (one the caller may not end among them).
template <typename Char>
int TerminateMatches(const Char* image, DWORD scope, DWORD timeoutMs)
{
    ProcessSet set;
    const int found = FindProcesses(image, scope, SYNCHRONIZE | PROCESS_TERMINATE, &set);
    if (found <= 0)
        return found;
    for (DWORD i = 0; i < set.count(); ++i)
        if (set.handle(i))
            ::TerminateProcess(set.handle(i), kTerminatedExitCode);
    return StillRunningAfter(set, timeoutMs);
}

// The wait alone: the matches still running after timeoutMs.
template <typename Char>
int WaitForMatches(const Char* image, DWORD scope, DWORD timeoutMs)
{
    ProcessSet set;
    const int found = FindProcesses(image, scope, SYNCHRONIZE, &set);
    if (found <= 0)
        return found;
    return StillRunningAfter(set, timeoutMs);
}

// The users of path, their image paths into out.
template <typename Char>
int FileUsers(const Char* path, Char* out, DWORD room)
{
    ProcessSet set;
    return ListFileUsers(path, out, room, &set);
}

#ifndef _WIN64
// FindFileUsersW on the Windows 95 family: the ANSI walk writes its lines
// into a buffer of two bytes a character (a double-byte character widens to
// one), and as many whole lines as fit are widened into out.
int FileUsersWidened(const char* path, wchar_t* out, DWORD room)
{
    if (!out && room > 0)
        return SETUPSUP_PROCESS_BAD_BUFFER;
    unique_hlocal ansi(room > 0 ? ::LocalAlloc(LMEM_FIXED, 2 * static_cast<SIZE_T>(room)) : nullptr);
    if (room > 0 && !ansi)
        return SETUPSUP_PROCESS_NOT_LISTED;
    char* lines = static_cast<char*>(ansi.get());
    const int found = FileUsers(path, lines, 2 * room);
    if (room == 0 || found < 0)
        return found;
    out[0] = 0;
    DWORD used = 0;
    for (const char* line = lines; *line;) {
        const char* end = line;
        while (*end && *end != '\n')
            ++end;
        const int bytes = static_cast<int>(end - line) + (*end ? 1 : 0);
        const int chars = ::MultiByteToWideChar(CP_ACP, 0, line, bytes, out + used, static_cast<int>(room - used - 1));
        if (chars == 0)
            break;
        used += static_cast<DWORD>(chars);
        out[used] = 0;
        line += bytes;
    }
    return found;
}
#endif

// The W twin's call: on the Windows 95 family the converted path, through
// the widening above; elsewhere the template's own.
struct WideFileUsers {
    wchar_t* out;
    DWORD room;
    int operator()(const wchar_t* path) const { return FileUsers(path, out, room); }
#ifndef _WIN64
    int operator()(const char* path) const { return FileUsersWidened(path, out, room); }
#endif
};

} // namespace
} // namespace setupsup

// The running processes of image within scope, the caller never among them:
// their number, or a negative SETUPSUP_PROCESS_ code.
extern "C" int WINAPI CountProcesses(const char* image, DWORD scope) { return setupsup::CountMatches(image, scope); }

// On the Windows 95 family an image without an exact ANSI form runs in no
// process there; it is refused as a null image is.
extern "C" int WINAPI CountProcessesW(const wchar_t* image, DWORD scope)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [scope](auto name) { return setupsup::CountMatches(name, scope); }, image);
}

// Posts WM_CLOSE to every top-level window of each match and waits up to
// timeoutMs: the matches still running (0: all ended).
extern "C" int WINAPI CloseProcesses(const char* image, DWORD scope, DWORD timeoutMs)
{
    return setupsup::CloseMatches(image, scope, timeoutMs);
}

extern "C" int WINAPI CloseProcessesW(const wchar_t* image, DWORD scope, DWORD timeoutMs)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [=](auto name) { return setupsup::CloseMatches(name, scope, timeoutMs); }, image);
}

// Ends each match and waits up to timeoutMs: the matches still running.
extern "C" int WINAPI TerminateProcesses(const char* image, DWORD scope, DWORD timeoutMs)
{
    return setupsup::TerminateMatches(image, scope, timeoutMs);
}

extern "C" int WINAPI TerminateProcessesW(const wchar_t* image, DWORD scope, DWORD timeoutMs)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [=](auto name) { return setupsup::TerminateMatches(name, scope, timeoutMs); }, image);
}

// Waits up to timeoutMs, posting nothing: the matches still running.
extern "C" int WINAPI WaitForProcesses(const char* image, DWORD scope, DWORD timeoutMs)
{
    return setupsup::WaitForMatches(image, scope, timeoutMs);
}

extern "C" int WINAPI WaitForProcessesW(const wchar_t* image, DWORD scope, DWORD timeoutMs)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [=](auto name) { return setupsup::WaitForMatches(name, scope, timeoutMs); }, image);
}

// The processes of the caller's session that use the file or folder path:
// their number, their image paths into out; or a negative SETUPSUP_PROCESS_ code.
extern "C" int WINAPI FindFileUsers(const char* path, char* out, DWORD room)
{
    return setupsup::FileUsers(path, out, room);
}

// On the Windows 95 family a path without an exact ANSI form is refused as
// a null path is; the lines are widened from the ANSI walk's.
extern "C" int WINAPI FindFileUsersW(const wchar_t* path, wchar_t* out, DWORD room)
{
    return setupsup::WideCall(setupsup::kAsNull, setupsup::WideFileUsers{out, room}, path);
}
