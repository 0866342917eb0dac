// Internal routines of running-instance detection. The exports are declared
// in setupsup.h; these are shared with the tests that drive the enumeration
// paths directly.
#pragma once

#include <windows.h>

namespace setupsup {

// The enumeration entry points of both system families are resolved by name
// at the start of every call through this resolver, GetProcAddress in the
// library. Tests replace it to feed process records the test system cannot
// produce (full executable paths, unreadable base names); it is not reachable
// through any export.
using EntryResolver = FARPROC(WINAPI*)(HMODULE module, LPCSTR name);
extern EntryResolver g_resolveEntry;

int IsAppRunningNt(const char* exeName);
int LoadProcessStatusEntries();
int ProcessHasBaseName(DWORD processId, const char* exeName);
int IsAppRunning9x(const char* exeName);
int LoadToolHelpEntries();

// Whole-string comparison ignoring case by the multibyte rule of the ANSI
// code page: 1 when equal.
int SameNameIgnoringCase(const char* a, const char* b);

} // namespace setupsup
