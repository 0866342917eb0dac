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

// The entry point name of module as type Fn; null when module is null or
// does not export name.
template <typename Fn>
Fn FindEntry(HMODULE module, const char* name) noexcept
{
    return module ? EntryAs<Fn>(::GetProcAddress(module, name)) : nullptr;
}

} // namespace setupsup
