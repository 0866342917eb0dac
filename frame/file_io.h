// Bulk file data through the system's own calls: reads and writes at a place
// in an open file, its length, and whether a name is a file this call already
// holds. Only calls that every system has (SetFilePointer, ReadFile,
// WriteFile, GetFileSize, SetEndOfFile, GetFileInformationByHandle), so that
// the DLL still loads on Windows 98 and NT 4.0. The exports that rewrite a
// file in place hold it through one exclusive open (file_times.h) and move
// its data through these, in transfers as large as their buffers: no C
// runtime stream copies every byte once more on the way.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "frame/text_api.h"
#include "frame/unique_handles.h"

namespace setupsup {

// How a transfer at a place ended: kSeekFailed when the place cannot be
// reached (nothing moved), kFailed when the system refused the transfer.
enum class FileTransfer { kOk, kSeekFailed, kFailed };

// The most one ReadFile or WriteFile is asked to move.
inline constexpr size_t kLargestTransfer = 0x40000000;

// Moves the file pointer to offset from the start. SetFilePointer reports
// failure as a low word of 0xFFFFFFFF together with a last error: that low
// word alone is a valid position.
inline bool SeekTo(HANDLE file, uint64_t offset) noexcept
{
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    LONG high = static_cast<LONG>(static_cast<DWORD>(offset >> 32));
    ::SetLastError(NO_ERROR);
    const DWORD low = ::SetFilePointer(file, static_cast<LONG>(static_cast<DWORD>(offset)), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR);
}

// Reads up to bytes at offset; *got tells how many came (fewer only where
// the file ends). On kFailed, *got holds what came before the failure.
inline FileTransfer ReadAt(HANDLE file, uint64_t offset, void* buffer, size_t bytes, size_t* got) noexcept
{
    *got = 0;
    if (!SeekTo(file, offset))
        return FileTransfer::kSeekFailed;
    while (*got < bytes) {
        const DWORD want = static_cast<DWORD>(bytes - *got < kLargestTransfer ? bytes - *got : kLargestTransfer);
        DWORD read = 0;
        if (!::ReadFile(file, static_cast<char*>(buffer) + *got, want, &read, nullptr))
            return FileTransfer::kFailed;
        if (read == 0)
            break; // the end of the file
        *got += read;
    }
    return FileTransfer::kOk;
}

// Writes all bytes at offset; a short write is kFailed.
inline FileTransfer WriteAt(HANDLE file, uint64_t offset, const void* buffer, size_t bytes) noexcept
{
    if (!SeekTo(file, offset))
        return FileTransfer::kSeekFailed;
    for (size_t done = 0; done < bytes;) {
        const DWORD want = static_cast<DWORD>(bytes - done < kLargestTransfer ? bytes - done : kLargestTransfer);
        DWORD written = 0;
        if (!::WriteFile(file, static_cast<const char*>(buffer) + done, want, &written, nullptr) || written == 0)
            return FileTransfer::kFailed;
        done += written;
    }
    return FileTransfer::kOk;
}

// The length of an open file. GetFileSize, which every system has
// (GetFileSizeEx came with Windows 2000), reports failure as a low word of
// 0xFFFFFFFF together with a last error.
inline bool FileLength(HANDLE file, uint64_t* length) noexcept
{
    DWORD high = 0;
    ::SetLastError(NO_ERROR);
    const DWORD low = ::GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
        return false;
    *length = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

// Cuts (or extends) an open file to length bytes.
inline bool SetFileLength(HANDLE file, uint64_t length) noexcept
{
    return SeekTo(file, length) && ::SetEndOfFile(file) != FALSE;
}

// Opens an existing file sharing reading and writing with other openers, as
// a C runtime stream does. access: GENERIC_READ, with GENERIC_WRITE for a
// file that must be writable although it is only read.
template <typename Char>
unique_hfile OpenShared(const Char* path, DWORD access) noexcept
{
    return unique_hfile(
        CreateFileT(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
}

// Whether path names the file `held` (open through a handle of this call)
// rather than another file of the same name elsewhere. An open with no data
// access is not refused by another handle's share mode, so it reaches a file
// held exclusively; the volume and file index of both then tell.
template <typename Char>
bool NamesHeldFile(HANDLE held, const Char* path) noexcept
{
    unique_hfile other(CreateFileT(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    BY_HANDLE_FILE_INFORMATION a, b;
    if (!other || !::GetFileInformationByHandle(held, &a) || !::GetFileInformationByHandle(other.get(), &b))
        return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace setupsup
