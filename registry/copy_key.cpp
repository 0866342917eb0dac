// CopyKey: copies a registry key with its values and all its subkeys, at any
// depth, to another place, possibly under another root. Every value arrives
// as REG_SZ holding the source data up to its first NUL. The ANSI export
// reads string values as the ANSI functions hand them out (converted to the
// ANSI code page); its W twin reads them in UTF-16 and keeps every character.
#include <windows.h>

#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "registry/registry_paths.h"
#include "registry/value_text.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// The registry's own codes are CopyKey's results.
static_assert(SETUPSUP_REGISTRY_OK == ERROR_SUCCESS, "a copied tree is the registry's success");

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
template <typename Char>
struct CopyGuard {
    HKEY root;
    const Char* targetPath;
};

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Writes one value to the target as REG_SZ: the data up to its first NUL
// within length bytes, then one NUL. data has room for length + 1 bytes so
// that data without a NUL is written whole with a NUL appended. The ANSI
// functions convert the text to UTF-16 as they write it.
void WriteAsString(HKEY target, const char* name, DWORD, BYTE* data, DWORD length)
{
    const DWORD text = static_cast<DWORD>(ValueTextLength<char>(data, length));
    data[text] = 0;
    ::RegSetValueExA(target, name, 0, REG_SZ, data, text + 1); // a failed write is not reported
}

// The same for the W export. A string value's UTF-16 text is kept up to its
// first NUL character; any other value's bytes up to their first zero byte
// are written as the ANSI export writes them, converted from the ANSI code
// page, so that both exports give the same value. data has room for length
// + 2 bytes.
void WriteAsString(HKEY target, const wchar_t* name, DWORD type, BYTE* data, DWORD length)
{
    if (IsStringType(type)) {
        const DWORD chars = static_cast<DWORD>(ValueTextLength<wchar_t>(data, length));
        const wchar_t nul = L'\0';
        std::memcpy(data + chars * sizeof(wchar_t), &nul, sizeof nul);
        ::RegSetValueExW(target, name, 0, REG_SZ, data, (chars + 1) * sizeof(wchar_t));
        return;
    }
    const DWORD bytes = static_cast<DWORD>(ValueTextLength<char>(data, length));
    unique_hlocal wide(::LocalAlloc(LMEM_FIXED, (bytes + 1) * sizeof(wchar_t)));
    if (!wide)
        return; // like a value that cannot be written
    auto* text = static_cast<wchar_t*>(wide.get());
    const int chars = bytes == 0 ? 0
                                 : ::MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(data),
                                                         static_cast<int>(bytes), text, static_cast<int>(bytes));
    text[chars] = L'\0';
    ::RegSetValueExW(target, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>(chars + 1) * sizeof(wchar_t));
}

// The room a value name of maxName characters needs, with its NUL: an ANSI
// name may take two bytes a character.
DWORD NameRoom(DWORD maxName, const char*) { return (maxName + 1) * kAnsiBytesPerChar; }
DWORD NameRoom(DWORD maxName, const wchar_t*) { return maxName + 1; }

// Enumerates value index again with room from the key's maxima and copies
// it. Returns false when it still cannot be read (the value is then left
// out, like a value that cannot be written).
template <typename Char>
bool CopyLargeValue(HKEY source, HKEY target, DWORD index)
{
    DWORD maxName = 0, maxData = 0;
    if (RegQueryValueMaximaT<Char>(source, &maxName, &maxData) != ERROR_SUCCESS)
        return false;
    DWORD nameRoom = NameRoom(maxName, static_cast<const Char*>(nullptr));
    DWORD dataRoom = maxData > kValueDataRoom ? maxData : kValueDataRoom;
    for (int attempt = 0; attempt < kLargeValueAttempts; ++attempt) {
        unique_hlocal name(::LocalAlloc(LMEM_FIXED, nameRoom * sizeof(Char)));
        unique_hlocal data(::LocalAlloc(LMEM_FIXED, dataRoom + sizeof(Char)));
        if (!name || !data)
            return false;
        auto* nameText = static_cast<Char*>(name.get());
        auto* bytes = static_cast<BYTE*>(data.get());
        DWORD nameLength = nameRoom, dataLength = dataRoom, type = 0;
        LONG rc = RegEnumValueT(source, index, nameText, &nameLength, &type, bytes, &dataLength);
        if (rc == ERROR_SUCCESS) {
            WriteAsString(target, nameText, type, bytes, dataLength);
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
template <typename Char>
void CopyValues(HKEY source, HKEY target)
{
    Char name[kRegNameRoom];
    BYTE data[kValueDataRoom + sizeof(Char)]; // room for an appended NUL
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kRegNameRoom, dataLength = kValueDataRoom, type = 0;
        LONG rc = RegEnumValueT(source, index, name, &nameLength, &type, data, &dataLength);
        if (rc == ERROR_SUCCESS)
            WriteAsString(target, static_cast<const Char*>(name), type, data, dataLength);
        else if (rc != ERROR_MORE_DATA || !CopyLargeValue<Char>(source, target, index))
            return;
    }
}

template <typename Char>
LONG CopyTree(HKEY sourceRoot, const Char* sourcePath, HKEY targetRoot, const Char* targetPath,
              const CopyGuard<Char>& guard);

// Copies each subkey of source (open at sourcePath) to the same name under
// targetPath. Returns the code that ended the enumeration, 0 at its end.
template <typename Char>
LONG CopySubkeys(HKEY source, HKEY sourceRoot, const Char* sourcePath, HKEY targetRoot, const Char* targetPath,
                 const CopyGuard<Char>& guard)
{
    Char childTarget[kRegPathRoom];
    return ForEachSubkey(source, sourcePath, [&](const Char* childSource, const Char* name) {
        // A child whose path does not fit is skipped, never cut to a wrong key.
        if (JoinRegPath(childTarget, targetPath, name))
            CopyTree(sourceRoot, childSource, targetRoot, static_cast<const Char*>(childTarget),
                     guard); // a failed child is not reported
    });
}

template <typename Char>
LONG CopyTree(HKEY sourceRoot, const Char* sourcePath, HKEY targetRoot, const Char* targetPath,
              const CopyGuard<Char>& guard)
{
    unique_hkey source;
    LONG rc = RegOpenKeyExT(sourceRoot, sourcePath, KEY_READ, source.put());
    if (rc != ERROR_SUCCESS)
        return rc;
    if (sourceRoot == guard.root && IsSameRegPath(sourcePath, guard.targetPath))
        return SETUPSUP_REGISTRY_OK; // the target itself: copying it would copy the copy
    unique_hkey target;
    rc = RegCreateKeyExT(targetRoot, targetPath, KEY_ALL_ACCESS, target.put());
    if (rc != ERROR_SUCCESS)
        return rc;
    CopyValues<Char>(source.get(), target.get());
    return CopySubkeys(source.get(), sourceRoot, sourcePath, targetRoot, targetPath, guard);
}

template <typename Char>
LONG Copy(HKEY sourceRoot, const Char* sourcePath, HKEY targetRoot, const Char* targetPath)
{
    const CopyGuard<Char> guard{targetRoot, targetPath};
    return CopyTree(sourceRoot, sourcePath, targetRoot, targetPath, guard);
}

} // namespace
} // namespace setupsup

// A null path names no key: refused before anything is opened or created.
extern "C" int WINAPI CopyKey(HKEY sourceRoot, const char* sourcePath, HKEY targetRoot, const char* targetPath)
{
    if (!sourcePath || !targetPath)
        return ERROR_INVALID_PARAMETER;
    return setupsup::Copy(sourceRoot, sourcePath, targetRoot, targetPath);
}

// On the Windows 95 family a path without an exact ANSI form names no key:
// the source is not found, the target cannot be created (both
// ERROR_FILE_NOT_FOUND), and nothing is opened or created. A null path is
// refused first, as by the ANSI export, whatever the other converts to.
extern "C" int WINAPI CopyKeyW(HKEY sourceRoot, const wchar_t* sourcePath, HKEY targetRoot, const wchar_t* targetPath)
{
    if (!sourcePath || !targetPath)
        return ERROR_INVALID_PARAMETER;
    return setupsup::WideCall(
        setupsup::Refuse{ERROR_FILE_NOT_FOUND}, [](auto... a) { return setupsup::Copy(a...); }, sourceRoot, sourcePath,
        targetRoot, targetPath);
}
