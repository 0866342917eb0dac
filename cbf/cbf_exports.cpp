// The CBF exports of setupsup.dll: the walks of cbf_walks.cpp on the Win32
// platform. Their results are the walks' codes, unchanged.
//
// A null source path means "ZORBDLG.CBF" in the current folder (the walks
// open that name). A null installed-file path names no file: it is refused
// here, as a file that cannot be opened, before any walk starts.
#include "cbf/cbf_platform.h"
#include "cbf/cbf_walks.h"
#include "setupsup.h"

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
