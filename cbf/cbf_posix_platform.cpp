// CbfPlatform on POSIX: descriptors read and written with pread/pwrite, file
// times through fstat/futimens, memory through calloc, cutting through
// ftruncate.
#include "cbf/cbf_posix_platform.h"

#include "cbf/cbf_platform.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace setupsup {

namespace {

// Seconds from 1601-01-01 (FILETIME's epoch) to 1970-01-01 (the Unix epoch).
constexpr int64_t kEpochDifference = 11644473600;
constexpr uint64_t kTicksPerSecond = 10000000; // 100 ns ticks
constexpr int64_t kNanosPerTick = 100;

bool ToFileTime(const timespec& time, uint64_t* ticks)
{
    if (time.tv_sec < -kEpochDifference)
        return false; // before 1601
    const uint64_t seconds = static_cast<uint64_t>(time.tv_sec + kEpochDifference);
    if (seconds > (UINT64_MAX - kTicksPerSecond) / kTicksPerSecond)
        return false;
    *ticks = seconds * kTicksPerSecond + static_cast<uint64_t>(time.tv_nsec / kNanosPerTick);
    return true;
}

timespec FromFileTime(uint64_t ticks)
{
    timespec time{};
    time.tv_sec = static_cast<time_t>(static_cast<int64_t>(ticks / kTicksPerSecond) - kEpochDifference);
    time.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * kNanosPerTick);
    return time;
}

// The nearest POSIX has to an exclusive open: the file must be a regular
// file (a directory is not a file that can be opened so) and no other
// process may hold a lock on it. A file system without locks does not stop
// the open. On failure errno tells why (EISDIR for anything but a regular
// file, EWOULDBLOCK for a lock held elsewhere).
int OpenExclusive(const char* path, int flags)
{
    int fd = open(path, flags | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat info;
    int refused = 0;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        refused = EISDIR;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        refused = EWOULDBLOCK;
    if (refused != 0) {
        close(fd);
        errno = refused;
        return -1;
    }
    return fd;
}

// The descriptor a CbfFile carries.
int Descriptor(CbfFile file) { return static_cast<int>(file.handle); }

// An offset pread and pwrite take, or false when off_t cannot hold it.
bool ToOffset(uint64_t offset, size_t bytes, off_t* at)
{
    static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");
    if (offset > static_cast<uint64_t>(INT64_MAX) - bytes)
        return false;
    *at = static_cast<off_t>(offset);
    return true;
}

} // namespace

FileTimesResult PosixCbfPlatform::OpenTarget(const char* path, CbfFile* file, CbfFileTimes* times)
{
    int fd = OpenExclusive(path, O_RDWR);
    if (fd < 0) {
        // Exclusively openable, only not for writing: the file is there and
        // free, and the walk cannot change it.
        if (errno != EACCES && errno != EROFS && errno != EPERM)
            return FileTimesResult::kCannotOpen;
        fd = OpenExclusive(path, O_RDONLY);
        if (fd < 0)
            return FileTimesResult::kCannotOpen;
        close(fd);
        return FileTimesResult::kFailed;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !ToFileTime(info.st_ctim, &times->creation) ||
        !ToFileTime(info.st_atim, &times->lastAccess) || !ToFileTime(info.st_mtim, &times->lastWrite)) {
        close(fd);
        return FileTimesResult::kFailed;
    }
    file->handle = fd;
    return FileTimesResult::kOk;
}

// Advisory locks do not stop a second open of the same file, so a source
// that is the target needs no open of its own.
bool PosixCbfPlatform::OpenSource(const char* path, CbfFile, CbfFile* file)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    file->handle = fd;
    return true;
}

bool PosixCbfPlatform::SetTimes(CbfFile file, const CbfFileTimes& times)
{
    // times.creation has no place to go: POSIX cannot set a creation time.
    const timespec both[2] = {FromFileTime(times.lastAccess), FromFileTime(times.lastWrite)};
    return futimens(Descriptor(file), both) == 0;
}

void PosixCbfPlatform::Close(CbfFile file) { close(Descriptor(file)); } // also drops the lock

CbfIoResult PosixCbfPlatform::ReadAt(CbfFile file, uint64_t offset, void* buffer, size_t bytes, size_t* got)
{
    *got = 0;
    off_t at = 0;
    if (!ToOffset(offset, bytes, &at))
        return CbfIoResult::kSeekFailed;
    while (*got < bytes) {
        const ssize_t n =
            pread(Descriptor(file), static_cast<char*>(buffer) + *got, bytes - *got, at + static_cast<off_t>(*got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return CbfIoResult::kFailed;
        if (n == 0)
            break; // the end of the file
        *got += static_cast<size_t>(n);
    }
    return CbfIoResult::kOk;
}

CbfIoResult PosixCbfPlatform::WriteAt(CbfFile file, uint64_t offset, const void* buffer, size_t bytes)
{
    off_t at = 0;
    if (!ToOffset(offset, bytes, &at))
        return CbfIoResult::kSeekFailed;
    for (size_t done = 0; done < bytes;) {
        const ssize_t n = pwrite(Descriptor(file), static_cast<const char*>(buffer) + done, bytes - done,
                                 at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return CbfIoResult::kFailed;
        done += static_cast<size_t>(n);
    }
    return CbfIoResult::kOk;
}

bool PosixCbfPlatform::Length(CbfFile file, uint64_t* length)
{
    struct stat info;
    if (fstat(Descriptor(file), &info) != 0 || info.st_size < 0)
        return false;
    *length = static_cast<uint64_t>(info.st_size);
    return true;
}

bool PosixCbfPlatform::SetLength(CbfFile file, uint64_t length)
{
    if (length > static_cast<uint64_t>(INT64_MAX))
        return false;
    return ftruncate(Descriptor(file), static_cast<off_t>(length)) == 0;
}

void* PosixCbfPlatform::AllocZeroed(size_t bytes) { return calloc(1, bytes); }

void PosixCbfPlatform::Free(void* block) { free(block); }

CbfPlatform& DefaultCbfPlatform()
{
    static PosixCbfPlatform platform;
    return platform;
}

} // namespace setupsup
