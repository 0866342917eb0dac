// IsRebootPending: whether the system has file operations or servicing
// waiting for the next restart. On the NT family: a non-empty list of file
// operations (PendingFileRenameOperations, or the servicing's
// PendingFileRenameOperations2) under the session manager's key, or the key
// that component servicing or Windows Update leave while a restart is due.
// On the Windows 95 family: a line in WININIT.INI's [rename] section.
//
// A 32-bit caller on 64-bit Windows reads the machine's 64-bit view: the
// servicing keys live under HKLM\SOFTWARE, which WoW64 would otherwise show
// from its WOW6432Node copy, where the system never writes them. A system
// without IsWow64Process (before Windows XP SP2) runs no WoW64, and has the
// one view only.
#include <windows.h>

#include "frame/ansi_fallback.h"
#include "frame/invariants.h"
#include "frame/system_entries.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "restart/restart_lists.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr int kNotPending = SETUPSUP_REBOOT_NOT_PENDING;
constexpr int kPending = SETUPSUP_REBOOT_PENDING;

// KEY_WOW64_64KEY, which the headers of the oldest systems do not declare.
constexpr REGSAM kWow64_64Key = 0x0100;
// Reads of a value that grows meanwhile are tried this often.
constexpr int kReadAttempts = 4;

// The keys that say a restart is due by being there.
constexpr const char* kRestartKeys[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired",
};

// The view flag that opens the machine's native keys from this process.
REGSAM NativeView()
{
#ifdef _WIN64
    return 0;
#else
    KernelEntries kernel;
    BOOL wow64 = FALSE;
    if (!ResolveKernelEntries(&kernel) || !kernel.isWow64Process)
        return 0;
    return kernel.isWow64Process(::GetCurrentProcess(), &wow64) && wow64 ? kWow64_64Key : 0;
#endif
}

// True when HKLM\path exists in view. A key the caller may not read exists
// all the same: only "not found" says it is absent.
bool KeyExists(const char* path, REGSAM view)
{
    unique_hkey key;
    const LONG opened = RegOpenKeyExT(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | view, key.put());
    return opened == ERROR_SUCCESS || opened == ERROR_ACCESS_DENIED;
}

// True when the value name of key holds a byte other than NUL: a list with
// an entry (an empty REG_MULTI_SZ is its NULs alone).
bool ValueHasEntries(HKEY key, const char* name)
{
    SETUPSUP_ASSERT(key != nullptr);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD size = 0;
        if (RegQueryValueExT(key, name, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0)
            return false;
        unique_hlocal block(::LocalAlloc(LMEM_FIXED, size));
        if (!block)
            return size > 2 * sizeof(wchar_t); // longer than an empty list's NULs
        const LONG read = RegQueryValueExT(key, name, nullptr, static_cast<BYTE*>(block.get()), &size);
        if (read == ERROR_MORE_DATA)
            continue;
        if (read != ERROR_SUCCESS)
            return false;
        const BYTE* bytes = static_cast<const BYTE*>(block.get());
        for (DWORD i = 0; i < size; ++i)
            if (bytes[i] != 0)
                return true;
        return false;
    }
    return true; // growing under every read: being written to
}

// The NT family's answer.
bool NtRestartPending()
{
    const REGSAM view = NativeView();
    unique_hkey manager;
    if (RegOpenKeyExT(HKEY_LOCAL_MACHINE, kSessionManager.Of<char>(), KEY_QUERY_VALUE | view, manager.put()) ==
            ERROR_SUCCESS &&
        (ValueHasEntries(manager.get(), kPendingRenames.Of<char>()) ||
         ValueHasEntries(manager.get(), kPendingRenames2.Of<char>())))
        return true;
    for (const char* path : kRestartKeys)
        if (KeyExists(path, view))
            return true;
    return false;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI IsRebootPending(void)
{
#ifndef _WIN64
    if (setupsup::IsWindows95Family())
        return setupsup::WininitHasRenames() ? setupsup::kPending : setupsup::kNotPending;
#endif
    return setupsup::NtRestartPending() ? setupsup::kPending : setupsup::kNotPending;
}
