// The platform the cbf tool runs the walks on. Each build defines it once:
// the POSIX build in cbf_posix_platform.cpp, the Windows build next to its
// Win32 implementation of CbfPlatform.
#pragma once

#include "cbf/cbf_walks.h"

namespace setupsup {

CbfPlatform& DefaultCbfPlatform();

} // namespace setupsup
