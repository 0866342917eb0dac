// The CBF exports of setupsup.dll: the walks of cbf_walks.cpp on the Win32
// platform, for ANSI names and, in the W twins, UTF-16 names. Their results
// are the walks' codes, unchanged.
//
// A null source path means "ZORBDLG.CBF" in the current folder (the walks
// open that name). A null installed-file path names no file: it is refused
// here, as a file that cannot be opened, before any walk starts.
#include "cbf/cbf_platform.h"
#include "cbf/cbf_walks.h"
#include "frame/wide_call.h"
#include "setupsup.h"

// The walks' codes are the exports' results. The CBF core builds without
// Windows headers, so it names them itself; they must be setupsup.h's.
static_assert(setupsup::kCbfWalkOk == SETUPSUP_CBF_OK);
static_assert(setupsup::kCbfWalkCannotOpen == SETUPSUP_CBF_TARGET_LOCKED);
static_assert(setupsup::kCbfWalkNoMemory == SETUPSUP_CBF_NO_MEMORY);
static_assert(setupsup::kCbfWalkBadFile == SETUPSUP_CBF_BAD_FILE);
static_assert(setupsup::kCbfWalkSeekFailed == SETUPSUP_CBF_SEEK_FAILED);
static_assert(setupsup::kCbfWalkTellFailed == SETUPSUP_CBF_TELL_FAILED);
static_assert(setupsup::kCbfWalkReadFailed == SETUPSUP_CBF_SHORT_READ);
static_assert(setupsup::kCbfWalkWriteFailed == SETUPSUP_CBF_SHORT_WRITE);
static_assert(setupsup::kCbfWalkMapWriteFailed == SETUPSUP_CBF_MAP_NOT_WRITTEN);
static_assert(setupsup::kCbfWalkTruncMapFailed == SETUPSUP_CBF_TRUNCATED_MAP_NOT_WRITTEN);
static_assert(setupsup::kCbfWalkCutFailed == SETUPSUP_CBF_NOT_CUT);

namespace setupsup {
namespace {

// A merge or prune of the installed file targetPath, for either character
// type.
template <typename Char>
int RunTwoFileWalk(int (*walk)(CbfPlatform&, const Char*, const Char*), const Char* sourcePath, const Char* targetPath)
{
    if (!targetPath)
        return kCbfWalkCannotOpen;
    return walk(DefaultCbfPlatform(), sourcePath, targetPath);
}

// On the Windows 95 family a W name without an exact ANSI form (null here)
// is refused before anything is opened, as a file that cannot be opened:
// the installed file first (-1), as the walks open it first, else the other
// file (3, as its failed open gives).
int RefuseCbfNames(const char*, const char* targetPath) { return targetPath ? kCbfWalkBadFile : kCbfWalkCannotOpen; }

} // namespace
} // namespace setupsup

extern "C" int WINAPI MergeCbf(const char* sourcePath, const char* targetPath)
{
    return setupsup::RunTwoFileWalk(setupsup::MergeCbfWalk<char>, sourcePath, targetPath);
}

extern "C" int WINAPI MergeCbfW(const wchar_t* sourcePath, const wchar_t* targetPath)
{
    return setupsup::WideCall(
        setupsup::RefuseCbfNames,
        [](auto... paths) { return setupsup::RunTwoFileWalk(setupsup::MergeCbfWalk, paths...); }, sourcePath,
        targetPath);
}

extern "C" int WINAPI PruneCbf(const char* sourcePath, const char* targetPath)
{
    return setupsup::RunTwoFileWalk(setupsup::PruneCbfWalk<char>, sourcePath, targetPath);
}

extern "C" int WINAPI PruneCbfW(const wchar_t* sourcePath, const wchar_t* targetPath)
{
    return setupsup::WideCall(
        setupsup::RefuseCbfNames,
        [](auto... paths) { return setupsup::RunTwoFileWalk(setupsup::PruneCbfWalk, paths...); }, sourcePath,
        targetPath);
}

extern "C" int WINAPI TruncateCbf(const char* targetPath)
{
    if (!targetPath)
        return setupsup::kCbfWalkCannotOpen;
    return setupsup::TruncateCbfWalk(setupsup::DefaultCbfPlatform(), targetPath);
}

extern "C" int WINAPI TruncateCbfW(const wchar_t* targetPath)
{
    if (!targetPath)
        return setupsup::kCbfWalkCannotOpen;
    return setupsup::WideCall(
        setupsup::Refuse{setupsup::kCbfWalkCannotOpen},
        [](auto target) { return setupsup::TruncateCbfWalk(setupsup::DefaultCbfPlatform(), target); }, targetPath);
}
