// CbfPlatform on POSIX: file times through fstat/futimens, memory through
// calloc, cutting through ftruncate.
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
// the open.
int OpenExclusive(const char* path, int flags)
{
    int fd = open(path, flags | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

FileTimesResult PosixCbfPlatform::CaptureTimes(const char* path, CbfFileTimes* times)
{
    int fd = OpenExclusive(path, O_RDONLY);
    if (fd < 0)
        return FileTimesResult::kCannotOpen;
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && ToFileTime(info.st_ctim, &times->creation) &&
              ToFileTime(info.st_atim, &times->lastAccess) && ToFileTime(info.st_mtim, &times->lastWrite);
    close(fd); // also drops the lock
    return ok ? FileTimesResult::kOk : FileTimesResult::kFailed;
}

FileTimesResult PosixCbfPlatform::RestoreTimes(const char* path, const CbfFileTimes& times)
{
    int fd = OpenExclusive(path, O_RDWR);
    if (fd < 0)
        return FileTimesResult::kCannotOpen;
    // times.creation has no place to go: POSIX cannot set a creation time.
    const timespec both[2] = {FromFileTime(times.lastAccess), FromFileTime(times.lastWrite)};
    bool ok = futimens(fd, both) == 0;
    close(fd);
    return ok ? FileTimesResult::kOk : FileTimesResult::kFailed;
}

void* PosixCbfPlatform::AllocZeroed(size_t bytes) { return calloc(1, bytes); }

void PosixCbfPlatform::Free(void* block) { free(block); }

bool PosixCbfPlatform::SetStreamLength(FILE* stream, uint64_t length)
{
    if (length > static_cast<uint64_t>(INT64_MAX))
        return false;
    if (fflush(stream) != 0)
        return false;
    return ftruncate(fileno(stream), static_cast<off_t>(length)) == 0;
}

CbfPlatform& DefaultCbfPlatform()
{
    static PosixCbfPlatform platform;
    return platform;
}

} // namespace setupsup
