// Internal routines of running-instance detection. The exports are declared
// in setupsup.h; these are shared with the tests that drive the enumeration
// paths directly (through the test builds' entry resolver, see
// frame/entry_points.h).
#pragma once

#include <windows.h>

#include <string_view>

#include "frame/system_entries.h"
#include "frame/unique_handles.h"

namespace setupsup {

// The entry points of one NT-family walk, resolved at its start.
template <typename Char>
struct NtEntries {
    ProcessStatusEntries<Char> status;
    KernelEntries kernel;
};

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

// The NT family's rule of IsZORBAppRunning for one process: true when it
// runs exeName, compared by its executable's base name (by its image path's
// last part where its module list cannot be read).
template <typename Char>
bool ProcessHasBaseName(const NtEntries<Char>& entries, DWORD processId, const Char* exeName);
extern template bool ProcessHasBaseName(const NtEntries<char>&, DWORD, const char*);
extern template bool ProcessHasBaseName(const NtEntries<wchar_t>&, DWORD, const wchar_t*);

#ifndef _WIN64
// The Windows 95 family's rule: exeName with a to z raised, into *copy
// (false when it cannot be had), found anywhere in a record's szExeFile.
bool UpperName9x(const char* exeName, unique_hlocal* copy, std::string_view* wanted);
bool ExeFileHasName9x(const char* exeFile, size_t size, std::string_view wanted);
#endif

} // namespace setupsup
