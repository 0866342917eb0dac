// The text rules of a Path value, without Win32: its entries (the pieces
// between ';'), which of them name a folder, and the value with a folder
// added or removed. Over UTF-16 code units of any character type, so that
// the library (wchar_t) and the native tests (char16_t) share them. The
// comparison of two entries is injected: the library compares ignoring case,
// as written and expanded; the native tests give their own.
#pragma once

#include <cstddef>
#include <string_view>

namespace setupsup::path_entries {

// True when entry and folder, both already reduced by Core, name the same
// folder; context is the caller's own.
template <typename Unit>
using SameFolderFn = bool (*)(const void* context, std::basic_string_view<Unit> entry,
                              std::basic_string_view<Unit> folder);

template <typename Unit>
struct Matcher {
    SameFolderFn<Unit> same;
    const void* context;
};

// entry without its surrounding spaces, one pair of surrounding double
// quotes and one trailing backslash: what is compared of it.
template <typename Unit>
std::basic_string_view<Unit> Core(std::basic_string_view<Unit> entry);

// True when folder holds the separator ';' (it would add two entries).
template <typename Unit>
bool HoldsSeparator(std::basic_string_view<Unit> folder);

// True when some entry of value names folder (folder's Core matched with
// each non-empty entry's Core).
template <typename Unit>
bool HasEntry(std::basic_string_view<Unit> value, std::basic_string_view<Unit> folder, const Matcher<Unit>& matcher);

// The length of value with folder added: folder alone for an empty value,
// else value, ';' and folder (in either order).
template <typename Unit>
size_t AddedLength(std::basic_string_view<Unit> value, std::basic_string_view<Unit> folder);

// Writes value with folder added at the front or the end into out, which
// has room for AddedLength units; the rest of value is copied unchanged, so
// that RemoveEntries gives value back.
template <typename Unit>
void WriteAdded(std::basic_string_view<Unit> value, std::basic_string_view<Unit> folder, bool atFront, Unit* out);

// Writes value without the entries that name folder into out (room for
// value.size() units): the other entries unchanged in their order, joined
// by the ';' that followed each. Returns the length written; *removed is
// the number of entries left out.
template <typename Unit>
size_t WriteRemoved(std::basic_string_view<Unit> value, std::basic_string_view<Unit> folder,
                    const Matcher<Unit>& matcher, Unit* out, size_t* removed);

} // namespace setupsup::path_entries
