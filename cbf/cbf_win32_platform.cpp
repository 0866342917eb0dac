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
    // SetFilePointer, which every system has (SetFilePointerEx came with
    // Windows 2000). It takes the high word by pointer and reports failure
    // as a low word of 0xFFFFFFFF together with a last error: that low word
    // alone is a valid position.
    LONG high = static_cast<LONG>(static_cast<DWORD>(length >> 32));
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, static_cast<LONG>(static_cast<DWORD>(length)), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return false;
    return SetEndOfFile(file) != FALSE;
}

namespace {

// The platform is stateless. An object at namespace scope is constant-
// initialised and trivially destructible: unlike a function-local static, its
// first use takes no guard lock, and nothing is registered to run at exit.
constinit Win32CbfPlatform g_win32Platform;

} // namespace

CbfPlatform& DefaultCbfPlatform() { return g_win32Platform; }

} // namespace setupsup
