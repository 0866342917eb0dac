// Registry paths of the tree walks: every child is reopened from the root the
// caller gave, by its full "parent\child" path, held in a fixed buffer. The
// walks run over ANSI (char) or UTF-16 (wchar_t) names alike; every room is
// counted in characters.
#pragma once

#include <windows.h>

#include "frame/text_api.h"

namespace setupsup {

// Room for a key or value name, a key class and a child path, NUL included.
inline constexpr DWORD kRegNameRoom = 256;
inline constexpr DWORD kRegPathRoom = 256;

// Forms "parent\name" in out (kRegPathRoom characters). A path that would
// not fit is never cut short: the function returns false and the caller
// skips that child. The rule holds for an empty parent too: "\name" names
// no key (the registry refuses a leading backslash), so a walk started at a
// root's own empty path never descends into the whole root.
template <typename Char>
bool JoinRegPath(Char (&out)[kRegPathRoom], const Char* parent, const Char* name);

// True when the two paths name the same key of one root (registry names
// compare without case).
template <typename Char>
bool IsSameRegPath(const Char* a, const Char* b);

// The subkey walk of the tree exports: calls visit(childPath, name) for each
// subkey of key (open at path), in the order the system enumerates them,
// with the child's full path from the same root. A child whose path does not
// fit is skipped. Returns the code that ended the enumeration, ERROR_SUCCESS
// at its end. The buffers live on this frame, once per tree level.
template <typename Char, typename Visit>
LONG ForEachSubkey(HKEY key, const Char* path, Visit visit)
{
    Char name[kRegNameRoom], keyClass[kRegNameRoom], child[kRegPathRoom];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kRegNameRoom, classLength = kRegNameRoom;
        LONG rc = RegEnumKeyExT(key, index, name, &nameLength, keyClass, &classLength);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS)
            return rc;
        if (JoinRegPath(child, path, static_cast<const Char*>(name)))
            visit(static_cast<const Char*>(child), static_cast<const Char*>(name));
    }
}

} // namespace setupsup
