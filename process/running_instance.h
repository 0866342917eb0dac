// Internal routines of running-instance detection. The exports are declared
// in setupsup.h; these are shared with the tests that drive the enumeration
// paths directly (through the test builds' entry resolver, see
// frame/entry_points.h).
#pragma once

#include <windows.h>

namespace setupsup {

// The two enumeration paths behind IsZORBAppRunning: true when a process
// runs exeName (also false when the path's entry points are missing).
bool IsAppRunningNt(const char* exeName);
bool IsAppRunning9x(const char* exeName);

// Whole-string comparison ignoring case by the multibyte rule of the ANSI
// code page.
bool SameNameIgnoringCase(const char* a, const char* b);

} // namespace setupsup
