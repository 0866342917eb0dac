// The system's lists of file operations waiting for the next restart, shared
// by the exports that add to them and the one that asks whether any wait: on
// the NT family the machine's PendingFileRenameOperations (written by
// MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT, carried out by the session
// manager before any program runs), on the Windows 95 family the [rename]
// section of WININIT.INI (carried out by WININIT.EXE before Windows starts).
#pragma once

#include <windows.h>

#include "frame/text.h"
#include "frame/unique_handles.h"

namespace setupsup {

// Where the NT family keeps its list, under HKEY_LOCAL_MACHINE (not
// redirected under WoW64), and the names of its two values: the second is
// written by the system's servicing, never by MoveFileEx.
inline constexpr TextLiteral kSessionManager = SETUPSUP_TEXT("SYSTEM\\CurrentControlSet\\Control\\Session Manager");
inline constexpr TextLiteral kPendingRenames = SETUPSUP_TEXT("PendingFileRenameOperations");
inline constexpr TextLiteral kPendingRenames2 = SETUPSUP_TEXT("PendingFileRenameOperations2");

// The NT family's list as it was when Take read it, to be written back
// exactly by Restore when a later step of the same arrangement fails.
// Another process that adds to the list between the two loses its entry: the
// window is the moment between two MoveFileEx calls of one arrangement, and
// Restore runs only when the second of them failed.
class PendingListSnapshot {
public:
    // Opens the list's key for reading and writing and reads the list. False
    // when the key cannot be opened so (a caller without the rights to write
    // HKEY_LOCAL_MACHINE), the list cannot be read or memory runs out.
    bool Take() noexcept;
    // Writes the list back as Take found it, or removes it if there was none.
    bool Restore() const noexcept;

private:
    unique_hkey key_;
    unique_hlocal data_;
    DWORD type_ = REG_MULTI_SZ;
    DWORD size_ = 0;
    bool existed_ = false;
};

#ifndef _WIN64
// ---- The Windows 95 family (the 64-bit DLL never runs there) ----------------

// Adds lines ("key=value", each ending in a NUL, one more NUL after the last;
// length counts every byte) to the [rename] section of WININIT.INI in the
// Windows folder, after the lines already there. The section is read whole
// and written whole: WritePrivateProfileString would replace the one earlier
// line of a key (every delete is a line "NUL=path") instead of adding one.
bool AddWininitRenames(const char* lines, size_t length) noexcept;

// True when the [rename] section of WININIT.INI holds a line to carry out (a
// line with "=" that is no comment).
bool WininitHasRenames() noexcept;
#endif

} // namespace setupsup
