// The processes an export acts on: one walk of the running processes, shared
// by CountProcesses, CloseProcesses, TerminateProcesses, WaitForProcesses
// and FindFileUsers, and the set of the matches it keeps (each with the
// handle the export needs). The walk never lists the calling process.
#pragma once

#include <windows.h>

#include "frame/unique_handles.h"

namespace setupsup {

// The most processes one call looks at: the room EnumProcesses is given.
constexpr DWORD kMaxProcesses = 4096;

// The matches of one call, at most kMaxProcesses, each with a handle that
// has the rights the call asked for, or none where the process would not be
// opened with them (it is counted, and cannot be waited for or ended).
class ProcessSet {
public:
    ProcessSet() = default;
    ProcessSet(const ProcessSet&) = delete;
    ProcessSet& operator=(const ProcessSet&) = delete;

    // Adds the process; false when it is in the set already or the set is full.
    bool Add(DWORD id, unique_handle process) noexcept;
    bool Contains(DWORD id) const noexcept;
    DWORD count() const noexcept { return count_; }
    DWORD id(DWORD i) const noexcept { return ids_[i]; }
    HANDLE handle(DWORD i) const noexcept { return handles_[i].get(); }

private:
    DWORD count_ = 0;
    DWORD ids_[kMaxProcesses] = {};
    unique_handle handles_[kMaxProcesses];
};

// Adds to *set every running process but the caller whose executable is
// image, within scope (SETUPSUP_SCOPE_*), each with a handle of the rights
// access (none for 0). An image with a slash or backslash is a full path,
// compared with each process's full image path; one without is a file
// name, compared as IsZORBAppRunning compares it. The number added, or
// SETUPSUP_PROCESS_BAD_NAME (null, empty or relative image),
// SETUPSUP_PROCESS_BAD_SCOPE or SETUPSUP_PROCESS_NOT_LISTED.
template <typename Char>
int FindProcesses(const Char* image, DWORD scope, DWORD access, ProcessSet* set);

// Adds to *set every process of the caller's session but the caller whose
// image or any loaded module is the file path or lies under the folder
// path, and those the Restart Manager names, writing their distinct image
// paths into out (room characters, whole lines only, NUL-terminated; out
// null when room is 0). The number added, or SETUPSUP_PROCESS_BAD_NAME
// (null, empty or relative path), SETUPSUP_PROCESS_BAD_BUFFER or
// SETUPSUP_PROCESS_NOT_LISTED.
template <typename Char>
int ListFileUsers(const Char* path, Char* out, DWORD room, ProcessSet* set);

extern template int FindProcesses(const char*, DWORD, DWORD, ProcessSet*);
extern template int FindProcesses(const wchar_t*, DWORD, DWORD, ProcessSet*);
extern template int ListFileUsers(const char*, char*, DWORD, ProcessSet*);
extern template int ListFileUsers(const wchar_t*, wchar_t*, DWORD, ProcessSet*);

// Posts WM_CLOSE to every top-level window of the processes of set; never
// waits for any window.
void PostCloseToWindows(const ProcessSet& set);

// Waits, on the processes' handles, until every process of set has ended
// or timeoutMs has passed: the number still running (a process without a
// handle counts as running).
int StillRunningAfter(const ProcessSet& set, DWORD timeoutMs);

} // namespace setupsup
