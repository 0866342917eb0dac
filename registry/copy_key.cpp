// CopyKey: copies a registry key with its values and all its subkeys, at any
// depth, to another place, possibly under another root. Every value arrives
// as REG_SZ holding the source data up to its first NUL.
#include <windows.h>

#include "frame/unique_handles.h"
#include "registry/registry_paths.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// Most values fit this room; larger ones are enumerated again with room
// sized from the key's own maxima.
constexpr DWORD kValueDataRoom = 4000;
// RegQueryInfoKeyA counts name lengths in characters; an ANSI character
// takes up to this many bytes.
constexpr DWORD kAnsiBytesPerChar = 2;
// Attempts with larger room when a value grew between query and read.
constexpr int kLargeValueAttempts = 3;

// Where the copy must not go: the target key itself, when it lies in the
// tree being copied (same root handle), is never walked as a source.
struct CopyGuard {
    HKEY root;
    const char* targetPath;
};

// Writes one value to the target as REG_SZ: the data up to its first NUL
// within length bytes, then one NUL. data has room for length + 1 bytes so
// that data without a NUL is written whole with a NUL appended.
void WriteAsString(HKEY target, const char* name, BYTE* data, DWORD length)
{
    DWORD text = 0;
    while (text < length && data[text] != 0)
        ++text;
    data[text] = 0;
    ::RegSetValueExA(target, name, 0, REG_SZ, data, text + 1); // a failed write is not reported
}

// Enumerates value index again with room from RegQueryInfoKeyA and copies
// it. Returns false when it still cannot be read (the value is then left
// out, like a value that cannot be written).
bool CopyLargeValue(HKEY source, HKEY target, DWORD index)
{
    DWORD maxName = 0, maxData = 0;
    if (::RegQueryInfoKeyA(source, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    DWORD nameRoom = (maxName + 1) * kAnsiBytesPerChar;
    DWORD dataRoom = maxData > kValueDataRoom ? maxData : kValueDataRoom;
    for (int attempt = 0; attempt < kLargeValueAttempts; ++attempt) {
        unique_hlocal name(::LocalAlloc(LMEM_FIXED, nameRoom));
        unique_hlocal data(::LocalAlloc(LMEM_FIXED, dataRoom + 1));
        if (!name || !data)
            return false;
        auto* nameText = static_cast<char*>(name.get());
        auto* bytes = static_cast<BYTE*>(data.get());
        DWORD nameLength = nameRoom, dataLength = dataRoom;
        LONG rc = ::RegEnumValueA(source, index, nameText, &nameLength, nullptr, nullptr, bytes, &dataLength);
        if (rc == ERROR_SUCCESS) {
            WriteAsString(target, nameText, bytes, dataLength);
            return true;
        }
        if (rc != ERROR_MORE_DATA)
            return false;
        nameRoom *= 2;
        dataRoom *= 2;
    }
    return false;
}

// Copies every value of source to target, converted to REG_SZ. Target
// values the source lacks are left alone. Kept out of the recursion so that
// its data buffer is not held on the stack once per tree level.
void CopyValues(HKEY source, HKEY target)
{
    char name[kRegNameRoom];
    BYTE data[kValueDataRoom + 1]; // + 1: room for an appended NUL
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = sizeof name, dataLength = kValueDataRoom;
        LONG rc = ::RegEnumValueA(source, index, name, &nameLength, nullptr, nullptr, data, &dataLength);
        if (rc == ERROR_SUCCESS)
            WriteAsString(target, name, data, dataLength);
        else if (rc != ERROR_MORE_DATA || !CopyLargeValue(source, target, index))
            return;
    }
}

LONG CopyTree(HKEY sourceRoot, const char* sourcePath, HKEY targetRoot, const char* targetPath, const CopyGuard& guard);

// Copies each subkey of source (open at sourcePath) to the same name under
// targetPath. Returns the code that ended the enumeration, 0 at its end.
LONG CopySubkeys(HKEY source, HKEY sourceRoot, const char* sourcePath, HKEY targetRoot, const char* targetPath,
                 const CopyGuard& guard)
{
    char childTarget[kRegPathRoom];
    return ForEachSubkey(source, sourcePath, [&](const char* childSource, const char* name) {
        // A child whose path does not fit is skipped, never cut to a wrong key.
        if (JoinRegPath(childTarget, targetPath, name))
            CopyTree(sourceRoot, childSource, targetRoot, childTarget, guard); // a failed child is not reported
    });
}

LONG CopyTree(HKEY sourceRoot, const char* sourcePath, HKEY targetRoot, const char* targetPath, const CopyGuard& guard)
{
    unique_hkey source;
    LONG rc = ::RegOpenKeyExA(sourceRoot, sourcePath, 0, KEY_READ, source.put());
    if (rc != ERROR_SUCCESS)
        return rc;
    if (sourceRoot == guard.root && IsSameRegPath(sourcePath, guard.targetPath))
        return ERROR_SUCCESS; // the target itself: copying it would copy the copy
    unique_hkey target;
    rc = ::RegCreateKeyExA(targetRoot, targetPath, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, target.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    CopyValues(source.get(), target.get());
    return CopySubkeys(source.get(), sourceRoot, sourcePath, targetRoot, targetPath, guard);
}

} // namespace
} // namespace setupsup

// A null path names no key: refused before anything is opened or created.
extern "C" int WINAPI CopyKey(HKEY sourceRoot, const char* sourcePath, HKEY targetRoot, const char* targetPath)
{
    if (!sourcePath || !targetPath)
        return ERROR_INVALID_PARAMETER;
    setupsup::CopyGuard guard{targetRoot, targetPath};
    return setupsup::CopyTree(sourceRoot, sourcePath, targetRoot, targetPath, guard);
}
