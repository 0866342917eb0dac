// Internal routines of running-instance detection. The exports are declared
// in setupsup.h; these are shared with the tests that drive the enumeration
// paths directly (through the test builds' entry resolver, see
// frame/entry_points.h).
#pragma once

#include <windows.h>

namespace setupsup {

// The two enumeration paths behind IsZORBAppRunning: true when a process
// runs exeName (also false when the path's entry points are missing). The
// NT-family path takes an ANSI or a UTF-16 name; the Windows 95-family path
// an ANSI one (the only kind that family's functions take).
template <typename Char>
bool IsAppRunningNt(const Char* exeName);
#ifndef _WIN64
bool IsAppRunning9x(const char* exeName);
#endif

extern template bool IsAppRunningNt(const char*);
extern template bool IsAppRunningNt(const wchar_t*);

// Whole-string comparison ignoring case: an ANSI name by the multibyte rule
// of the ANSI code page, a UTF-16 one by the system's case table.
bool SameNameIgnoringCase(const char* a, const char* b);
bool SameNameIgnoringCase(const wchar_t* a, const wchar_t* b);

} // namespace setupsup
