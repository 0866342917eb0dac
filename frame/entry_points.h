// Entry points resolved by name at run time. The library imports only what
// every supported system has; anything newer or optional (the process-status
// library, tool-help, Windows Sockets, a COM server's DllRegisterServer) is
// found with GetProcAddress and called through a pointer of its own type.
#pragma once

#include <windows.h>

namespace setupsup {

// The entry point as a pointer of the type the caller declared for it, or
// null. FARPROC converts to another function-pointer type only through an
// object pointer without a cast warning; this is the one place that does it.
template <typename Fn>
Fn EntryAs(FARPROC entry) noexcept
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}

#ifdef SETUPSUP_TEST_SEAMS
// Test builds only: every entry point the library resolves at run time is
// looked up through this resolver, GetProcAddress unless a test replaces it
// to feed records Wine cannot produce (full executable paths, unreadable base
// names, a host name that does not resolve). The shipped library calls
// GetProcAddress directly.
using EntryResolver = FARPROC(WINAPI*)(HMODULE module, LPCSTR name);
extern EntryResolver g_resolveEntry;
#endif

// The entry point name of module as type Fn; null when module is null or
// does not export name.
template <typename Fn>
Fn FindEntry(HMODULE module, const char* name) noexcept
{
    if (!module)
        return nullptr;
#ifdef SETUPSUP_TEST_SEAMS
    return EntryAs<Fn>(g_resolveEntry(module, name));
#else
    return EntryAs<Fn>(::GetProcAddress(module, name));
#endif
}

} // namespace setupsup
