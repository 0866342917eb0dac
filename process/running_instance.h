// Internal routines of running-instance detection. The exports are declared
// in setupsup.h; these are shared with the tests that drive the enumeration
// paths directly.
#pragma once

#include <windows.h>

namespace setupsup {

#ifdef SETUPSUP_TEST_SEAMS
// Test builds only: the enumeration entry points of both system families are
// resolved through this resolver, GetProcAddress unless a test replaces it to
// feed process records Wine cannot produce (full executable paths, unreadable
// base names). The shipped library calls GetProcAddress directly.
using EntryResolver = FARPROC(WINAPI*)(HMODULE module, LPCSTR name);
extern EntryResolver g_resolveEntry;
#endif

// The two enumeration paths behind IsZORBAppRunning: 1 when a process runs
// exeName, else 0 (also when the path's entry points are missing).
int IsAppRunningNt(const char* exeName);
int IsAppRunning9x(const char* exeName);

// Whole-string comparison ignoring case by the multibyte rule of the ANSI
// code page: 1 when equal.
int SameNameIgnoringCase(const char* a, const char* b);

} // namespace setupsup
