// The platform the cbf tool runs the walks on. Each build defines it once:
// the POSIX build in cbf_posix_platform.cpp, the Windows build next to its
// Win32 implementation of CbfPlatform.
#ifndef CBF_PLATFORM_H
#define CBF_PLATFORM_H

#include "cbf_walks.h"

CbfPlatform& DefaultCbfPlatform();

#endif // CBF_PLATFORM_H
