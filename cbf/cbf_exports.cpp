// The CBF exports of setupsup.dll: the walks of cbf_walks.cpp on the Win32
// platform. Their results are the walks' codes, unchanged.
#include "cbf/cbf_platform.h"
#include "cbf/cbf_walks.h"
#include "setupsup.h"

extern "C" int WINAPI MergeCbf(const char* sourcePath, const char* targetPath)
{
    return setupsup::MergeCbfWalk(setupsup::DefaultCbfPlatform(), sourcePath, targetPath);
}

extern "C" int WINAPI PruneCbf(const char* sourcePath, const char* targetPath)
{
    return setupsup::PruneCbfWalk(setupsup::DefaultCbfPlatform(), sourcePath, targetPath);
}

extern "C" int WINAPI TruncateCbf(const char* targetPath)
{
    return setupsup::TruncateCbfWalk(setupsup::DefaultCbfPlatform(), targetPath);
}
