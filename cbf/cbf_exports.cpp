// The CBF exports of setupsup.dll: the walks of cbf_walks.cpp on the Win32
// platform. Their results are the walks' codes, unchanged.
//
// A null source path means "ZORBDLG.CBF" in the current folder (the walks
// open that name). A null installed-file path names no file: it is refused
// here, as a file that cannot be opened, before any walk starts.
#include "cbf/cbf_platform.h"
#include "cbf/cbf_walks.h"
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

extern "C" int WINAPI MergeCbf(const char* sourcePath, const char* targetPath)
{
    if (!targetPath)
        return setupsup::kCbfWalkCannotOpen;
    return setupsup::MergeCbfWalk(setupsup::DefaultCbfPlatform(), sourcePath, targetPath);
}

extern "C" int WINAPI PruneCbf(const char* sourcePath, const char* targetPath)
{
    if (!targetPath)
        return setupsup::kCbfWalkCannotOpen;
    return setupsup::PruneCbfWalk(setupsup::DefaultCbfPlatform(), sourcePath, targetPath);
}

extern "C" int WINAPI TruncateCbf(const char* targetPath)
{
    if (!targetPath)
        return setupsup::kCbfWalkCannotOpen;
    return setupsup::TruncateCbfWalk(setupsup::DefaultCbfPlatform(), targetPath);
}
