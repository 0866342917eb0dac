// The Windows 95 family's conversions of UTF-16 text, under WideCall
// (frame/wide_call.h), the one place that uses them. The family's W
// functions are stubs that fail, so there each W export converts its strings
// to the system's ANSI code page and takes its A path. A string that does not
// convert exactly is never passed on: the conversion would have turned a
// character outside the code page into '?' or a look-alike, which names no
// file or another one.
#pragma once

#include <windows.h>

#include "frame/unique_handles.h"

namespace setupsup {

// True on the Windows 95 family (and Win32s), where GetVersion sets its top
// bit; never for 64-bit code, which that family cannot run.
inline bool IsWindows95Family() noexcept
{
#ifdef _WIN64
    return false;
#else
    return (::GetVersion() & 0x80000000u) != 0;
#endif
}

// A UTF-16 string in the ANSI code page, converted exactly or not at all.
// A null string stays null, and counts as exact.
class AnsiText {
public:
    explicit AnsiText(const wchar_t* text) noexcept;
    AnsiText(const AnsiText&) = delete;
    AnsiText& operator=(const AnsiText&) = delete;

    // False when a character has no exact ANSI form (or memory ran out).
    bool exact() const noexcept { return exact_; }
    // The converted text; null for a null string or an inexact one.
    const char* get() const noexcept { return exact_ ? static_cast<const char*>(block_.get()) : nullptr; }

private:
    unique_hlocal block_;
    bool exact_ = true;
};

// Writes an ANSI text the A path gave into the caller's UTF-16 buffer of room
// characters: the characters written with the NUL, or 0 when it does not fit
// (out then holds the empty string). A text that fitted the A path's buffer
// of room bytes always fits room characters.
int WidenAnsi(const char* text, wchar_t* out, int room) noexcept;

} // namespace setupsup
