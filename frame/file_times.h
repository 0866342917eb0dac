// The file-time frame: a file's three time stamps read and written through
// opens that share nothing, so that no other opener (this process or another)
// has the file open while its times are taken or put back. The CBF walks and
// the split-file join capture the times before they change a file and restore
// them after; MatchFileDate copies them from one file to another.
#pragma once

#include <windows.h>
#include <cstdint>

#include "frame/file_times_result.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"

namespace setupsup {

// The three times of a file, each in the role it was read from.
struct FileTimeSet {
    FILETIME creation{}, lastAccess{}, lastWrite{};
};

// Opens the existing file path (an ANSI or a UTF-16 name) with share mode 0:
// the open fails while any other handle has the file open. access:
// GENERIC_READ, or with GENERIC_WRITE to set times.
template <typename Char>
unique_hfile OpenExclusive(const Char* path, DWORD access) noexcept
{
    return unique_hfile(CreateFileT(path, access, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
}

// Reads the three times of an open file; false when the system refuses.
inline bool ReadFileTimes(HANDLE file, FileTimeSet* times) noexcept
{
    return ::GetFileTime(file, &times->creation, &times->lastAccess, &times->lastWrite) != FALSE;
}

// Sets the three times of a file open for writing, role for role.
inline bool WriteFileTimes(HANDLE file, const FileTimeSet& times) noexcept
{
    return ::SetFileTime(file, &times.creation, &times.lastAccess, &times.lastWrite) != FALSE;
}

// The three times of path, through an exclusive read-only open.
template <typename Char>
FileTimesResult CaptureFileTimes(const Char* path, FileTimeSet* times) noexcept
{
    unique_hfile file = OpenExclusive(path, GENERIC_READ);
    if (!file)
        return FileTimesResult::kCannotOpen;
    return ReadFileTimes(file.get(), times) ? FileTimesResult::kOk : FileTimesResult::kFailed;
}

// Gives path the three times, through an exclusive read-write open.
template <typename Char>
FileTimesResult RestoreFileTimes(const Char* path, const FileTimeSet& times) noexcept
{
    unique_hfile file = OpenExclusive(path, GENERIC_READ | GENERIC_WRITE);
    if (!file)
        return FileTimesResult::kCannotOpen;
    return WriteFileTimes(file.get(), times) ? FileTimesResult::kOk : FileTimesResult::kFailed;
}

// A FILETIME as one count of 100 ns ticks since 1601, and back.
inline uint64_t FileTimeTicks(const FILETIME& time) noexcept
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME TicksToFileTime(uint64_t ticks) noexcept
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

} // namespace setupsup
