// Child paths of the registry walks.
#include "registry/registry_paths.h"

#include <cstdio>
#include <cstring>

namespace setupsup {

bool JoinRegPath(char (&out)[kRegPathRoom], const char* parent, const char* name)
{
    int length = std::snprintf(out, sizeof out, "%s\\%s", parent, name);
    return length >= 0 && static_cast<unsigned>(length) < sizeof out;
}

namespace {

// Upper-cases an ANSI path for comparison; false when it exceeds the room
// (no walked child path is that long).
bool UpperPath(char (&out)[kRegPathRoom], const char* path)
{
    size_t length = std::strlen(path);
    if (length >= sizeof out)
        return false;
    std::memcpy(out, path, length + 1);
    ::CharUpperBuffA(out, static_cast<DWORD>(length));
    return true;
}

} // namespace

bool IsSameRegPath(const char* a, const char* b)
{
    char upperA[kRegPathRoom], upperB[kRegPathRoom];
    return UpperPath(upperA, a) && UpperPath(upperB, b) && std::strcmp(upperA, upperB) == 0;
}

} // namespace setupsup
