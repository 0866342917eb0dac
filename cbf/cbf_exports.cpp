// The CBF exports of setupsup.dll: the walks of cbf_walks.cpp on the Win32
// platform. Their results are the walks' codes, unchanged.
#include "cbf_platform.h"
#include "cbf_walks.h"
#include "setupsup.h"

extern "C" int WINAPI MergeCbf(const char* sourcePath, const char* targetPath)
{
    return MergeCbfWalk(DefaultCbfPlatform(), sourcePath, targetPath);
}

extern "C" int WINAPI PruneCbf(const char* sourcePath, const char* targetPath)
{
    return PruneCbfWalk(DefaultCbfPlatform(), sourcePath, targetPath);
}

extern "C" int WINAPI TruncateCbf(const char* targetPath) { return TruncateCbfWalk(DefaultCbfPlatform(), targetPath); }
