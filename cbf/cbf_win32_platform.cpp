#include "cbf/cbf_win32_platform.h"

#include "cbf/cbf_platform.h"
#include "frame/file_io.h"
#include "frame/file_times.h"

#include <windows.h>

namespace setupsup {

namespace {

HANDLE HandleOf(CbfFile file) { return reinterpret_cast<HANDLE>(file.handle); }

CbfFile FileOf(HANDLE handle) { return CbfFile{reinterpret_cast<intptr_t>(handle)}; }

CbfIoResult IoResult(FileTransfer transfer)
{
    switch (transfer) {
        case FileTransfer::kOk:
            return CbfIoResult::kOk;
        case FileTransfer::kSeekFailed:
            return CbfIoResult::kSeekFailed;
        case FileTransfer::kFailed:
            break;
    }
    return CbfIoResult::kFailed;
}

// The exclusive read-write open and the times. A file that another handle
// holds, or that is missing, cannot be opened; one that opens exclusively
// for reading only is there and free but cannot be changed, which the walks
// report as a file they cannot work on (3), as they did when they opened it
// for update after taking its times.
template <typename Char>
FileTimesResult OpenWithTimes(const Char* path, CbfFile* file, CbfFileTimes* times)
{
    unique_hfile target = OpenExclusive(path, GENERIC_READ | GENERIC_WRITE);
    if (!target) {
        if (::GetLastError() != ERROR_ACCESS_DENIED || !OpenExclusive(path, GENERIC_READ))
            return FileTimesResult::kCannotOpen;
        return FileTimesResult::kFailed;
    }
    FileTimeSet read;
    if (!ReadFileTimes(target.get(), &read))
        return FileTimesResult::kFailed;
    times->creation = FileTimeTicks(read.creation);
    times->lastAccess = FileTimeTicks(read.lastAccess);
    times->lastWrite = FileTimeTicks(read.lastWrite);
    *file = FileOf(target.release());
    return FileTimesResult::kOk;
}

// A source opened as a read stream shares it. The installed file itself,
// which the walk holds exclusively, is read through the walk's own open.
template <typename Char>
bool OpenForReading(const Char* path, CbfFile target, CbfFile* file)
{
    unique_hfile source = OpenShared(path, GENERIC_READ);
    if (source) {
        *file = FileOf(source.release());
        return true;
    }
    if (::GetLastError() != ERROR_SHARING_VIOLATION || !NamesHeldFile(HandleOf(target), path))
        return false;
    *file = target;
    return true;
}

} // namespace

FileTimesResult Win32CbfPlatform::OpenTarget(const char* path, CbfFile* file, CbfFileTimes* times)
{
    return OpenWithTimes(path, file, times);
}

FileTimesResult Win32CbfPlatform::OpenTarget(const wchar_t* path, CbfFile* file, CbfFileTimes* times)
{
    return OpenWithTimes(path, file, times);
}

bool Win32CbfPlatform::OpenSource(const char* path, CbfFile target, CbfFile* file)
{
    return OpenForReading(path, target, file);
}

bool Win32CbfPlatform::OpenSource(const wchar_t* path, CbfFile target, CbfFile* file)
{
    return OpenForReading(path, target, file);
}

bool Win32CbfPlatform::SetTimes(CbfFile file, const CbfFileTimes& times)
{
    FileTimeSet set;
    set.creation = TicksToFileTime(times.creation);
    set.lastAccess = TicksToFileTime(times.lastAccess);
    set.lastWrite = TicksToFileTime(times.lastWrite);
    return WriteFileTimes(HandleOf(file), set);
}

void Win32CbfPlatform::Close(CbfFile file) { unique_hfile closing(HandleOf(file)); }

CbfIoResult Win32CbfPlatform::ReadAt(CbfFile file, uint64_t offset, void* buffer, size_t bytes, size_t* got)
{
    return IoResult(setupsup::ReadAt(HandleOf(file), offset, buffer, bytes, got));
}

CbfIoResult Win32CbfPlatform::WriteAt(CbfFile file, uint64_t offset, const void* buffer, size_t bytes)
{
    return IoResult(setupsup::WriteAt(HandleOf(file), offset, buffer, bytes));
}

bool Win32CbfPlatform::Length(CbfFile file, uint64_t* length) { return FileLength(HandleOf(file), length); }

bool Win32CbfPlatform::SetLength(CbfFile file, uint64_t length) { return SetFileLength(HandleOf(file), length); }

void* Win32CbfPlatform::AllocZeroed(size_t bytes)
{
    return GlobalAlloc(GPTR, bytes); // fixed and zero-filled: the handle is the pointer
}

void Win32CbfPlatform::Free(void* block) { GlobalFree(block); }

namespace {

// The platform is stateless. An object at namespace scope is constant-
// initialised and trivially destructible: unlike a function-local static, its
// first use takes no guard lock, and nothing is registered to run at exit.
constinit Win32CbfPlatform g_win32Platform;

} // namespace

CbfPlatform& DefaultCbfPlatform() { return g_win32Platform; }

} // namespace setupsup
