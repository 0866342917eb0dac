// Internal routines of running-instance detection. The exports are declared
// in setupsup.h; these are shared with the tests that drive the enumeration
// paths directly.
#pragma once

#include <windows.h>

namespace setupsup {

// The enumeration entry points of both system families are resolved by name
// at the start of every call through this resolver, GetProcAddress in the
// library. Tests replace it to feed process records the test system cannot
// produce (full executable paths, unreadable base names, module lists that
// fail); it is not reachable
// through any export.
using EntryResolver = FARPROC(WINAPI*)(HMODULE module, LPCSTR name);
extern EntryResolver g_resolveEntry;

int IsAppRunningNt(const char* exeName);
int LoadProcessStatusEntries();
// The base name of the process's first module; where the process cannot
// be opened for reading its memory, or its modules cannot be listed, the
// part of its image path after the last backslash (ImagePathHasBaseName).
int ProcessHasBaseName(DWORD processId, const char* exeName);
// Fills the optional QueryFullProcessImageNameA slot from the kernel; the
// slot stays empty on systems before Vista.
void LoadImagePathEntry();
// 1 when the image path of the process, opened with the limited query
// right, ends in exeName after its last backslash; 0 when the entry point
// is absent, the process cannot be opened so or its path cannot be read.
int ImagePathHasBaseName(DWORD processId, const char* exeName);
int IsAppRunning9x(const char* exeName);
int LoadToolHelpEntries();

// Whole-string comparison ignoring case by the multibyte rule of the ANSI
// code page: 1 when equal.
int SameNameIgnoringCase(const char* a, const char* b);

} // namespace setupsup
