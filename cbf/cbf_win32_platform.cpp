#include "cbf/cbf_win32_platform.h"

#include "cbf/cbf_platform.h"
#include "frame/file_times.h"

#include <windows.h>
#include <io.h>

namespace setupsup {

namespace {

// The frame's capture and restore, with the times as the walks count them.
template <typename Char>
FileTimesResult Capture(const Char* path, CbfFileTimes* times)
{
    FileTimeSet captured;
    FileTimesResult result = CaptureFileTimes(path, &captured);
    if (result == FileTimesResult::kOk) {
        times->creation = FileTimeTicks(captured.creation);
        times->lastAccess = FileTimeTicks(captured.lastAccess);
        times->lastWrite = FileTimeTicks(captured.lastWrite);
    }
    return result;
}

template <typename Char>
FileTimesResult Restore(const Char* path, const CbfFileTimes& times)
{
    FileTimeSet restored;
    restored.creation = TicksToFileTime(times.creation);
    restored.lastAccess = TicksToFileTime(times.lastAccess);
    restored.lastWrite = TicksToFileTime(times.lastWrite);
    return RestoreFileTimes(path, restored);
}

} // namespace

FileTimesResult Win32CbfPlatform::CaptureTimes(const char* path, CbfFileTimes* times) { return Capture(path, times); }

FileTimesResult Win32CbfPlatform::CaptureTimes(const wchar_t* path, CbfFileTimes* times)
{
    return Capture(path, times);
}

FileTimesResult Win32CbfPlatform::RestoreTimes(const char* path, const CbfFileTimes& times)
{
    return Restore(path, times);
}

FileTimesResult Win32CbfPlatform::RestoreTimes(const wchar_t* path, const CbfFileTimes& times)
{
    return Restore(path, times);
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
