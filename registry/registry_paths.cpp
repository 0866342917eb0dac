// Child paths of the registry walks.
#include "registry/registry_paths.h"

#include <cstring>

#include "frame/text.h"

namespace setupsup {

namespace {

// Upper-cases a path for comparison; false when it exceeds the room (no
// walked child path is that long).
template <typename Char>
bool UpperPath(Char (&out)[kRegPathRoom], const Char* path)
{
    size_t length = TextLength(path);
    if (length >= kRegPathRoom)
        return false;
    std::memcpy(out, path, (length + 1) * sizeof(Char));
    CharUpperBuffT(out, static_cast<DWORD>(length));
    return true;
}

} // namespace

template <typename Char>
bool JoinRegPath(Char (&out)[kRegPathRoom], const Char* parent, const Char* name)
{
    const size_t parentLength = TextLength(parent), nameLength = TextLength(name);
    if (parentLength + 1 + nameLength >= kRegPathRoom)
        return false;
    std::memcpy(out, parent, parentLength * sizeof(Char));
    out[parentLength] = static_cast<Char>('\\');
    std::memcpy(out + parentLength + 1, name, (nameLength + 1) * sizeof(Char));
    return true;
}

template <typename Char>
bool IsSameRegPath(const Char* a, const Char* b)
{
    Char upperA[kRegPathRoom], upperB[kRegPathRoom];
    return UpperPath(upperA, a) && UpperPath(upperB, b) &&
           std::memcmp(upperA, upperB, (TextLength(upperA) + 1) * sizeof(Char)) == 0;
}

template bool JoinRegPath(char (&)[kRegPathRoom], const char*, const char*);
template bool JoinRegPath(wchar_t (&)[kRegPathRoom], const wchar_t*, const wchar_t*);
template bool IsSameRegPath(const char*, const char*);
template bool IsSameRegPath(const wchar_t*, const wchar_t*);

} // namespace setupsup
