// Registry paths of the tree walks: every child is reopened from the root the
// caller gave, by its full "parent\child" path, held in a fixed buffer.
#pragma once

#include <windows.h>

namespace setupsup {

// Room for a key or value name, a key class and a child path, NUL included.
inline constexpr DWORD kRegNameRoom = 256;
inline constexpr DWORD kRegPathRoom = 256;

// Forms "parent\name" in out (kRegPathRoom characters). A path that would
// not fit is never cut short: the function returns false and the caller
// skips that child. The rule holds for an empty parent too: "\name" names
// no key (the registry refuses a leading backslash), so a walk started at a
// root's own empty path never descends into the whole root.
bool JoinRegPath(char (&out)[kRegPathRoom], const char* parent, const char* name);

// True when the two paths name the same key of one root (registry names
// compare without case).
bool IsSameRegPath(const char* a, const char* b);

// The subkey walk of the tree exports: calls visit(childPath, name) for each
// subkey of key (open at path), in the order the system enumerates them,
// with the child's full path from the same root. A child whose path does not
// fit is skipped. Returns the code that ended the enumeration, ERROR_SUCCESS
// at its end. The buffers live on this frame, once per tree level.
template <typename Visit>
LONG ForEachSubkey(HKEY key, const char* path, Visit visit)
{
    char name[kRegNameRoom], keyClass[kRegNameRoom], child[kRegPathRoom];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = sizeof name, classLength = sizeof keyClass;
        LONG rc = ::RegEnumKeyExA(key, index, name, &nameLength, nullptr, keyClass, &classLength, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS)
            return rc;
        if (JoinRegPath(child, path, name))
            visit(static_cast<const char*>(child), static_cast<const char*>(name));
    }
}

} // namespace setupsup
