#include "cbf/cbf_win32_platform.h"

#include "cbf/cbf_platform.h"
#include "frame/unique_handles.h"

#include <windows.h>
#include <io.h>

namespace setupsup {

using setupsup::unique_hfile;

namespace {

// Share mode 0: the open fails while any other handle (this process or
// another) has the file open, so times are never captured or restored
// under another writer.
unique_hfile OpenExclusive(const char* path, DWORD access)
{
    return unique_hfile(CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

uint64_t FromFileTime(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

} // namespace

int Win32CbfPlatform::CaptureTimes(const char* path, CbfFileTimes* times)
{
    unique_hfile file = OpenExclusive(path, GENERIC_READ);
    if (!file)
        return kCbfWalkCannotOpen;
    FILETIME creation, lastAccess, lastWrite;
    if (!GetFileTime(file.get(), &creation, &lastAccess, &lastWrite))
        return kCbfWalkBadFile;
    times->creation = FromFileTime(creation);
    times->lastAccess = FromFileTime(lastAccess);
    times->lastWrite = FromFileTime(lastWrite);
    return kCbfWalkOk;
}

int Win32CbfPlatform::RestoreTimes(const char* path, const CbfFileTimes& times)
{
    unique_hfile file = OpenExclusive(path, GENERIC_READ | GENERIC_WRITE);
    if (!file)
        return kCbfWalkCannotOpen;
    const FILETIME creation = ToFileTime(times.creation);
    const FILETIME lastAccess = ToFileTime(times.lastAccess);
    const FILETIME lastWrite = ToFileTime(times.lastWrite);
    if (!SetFileTime(file.get(), &creation, &lastAccess, &lastWrite))
        return kCbfWalkBadFile;
    return kCbfWalkOk;
}

void* Win32CbfPlatform::AllocZeroed(size_t bytes)
{
    return GlobalAlloc(GPTR, bytes); // fixed and zero-filled: the handle is the pointer
}

void Win32CbfPlatform::Free(void* block) { GlobalFree(block); }

bool Win32CbfPlatform::SetStreamLength(FILE* stream, uint64_t length)
{
    if (fflush(stream) != 0)
        return false;
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(length);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

CbfPlatform& DefaultCbfPlatform()
{
    static Win32CbfPlatform platform;
    return platform;
}

} // namespace setupsup
