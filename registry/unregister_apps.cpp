// UnregisterZORBApps: walks a tree of the current user's hive, finds the
// application keys (keys with a "Setup" subkey that opens with full access)
// and resets each one's "CurrentlyRegistered" mark to "0".
#include <windows.h>

#include "frame/text.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "registry/registry_paths.h"
#include "registry/value_text.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr TextLiteral kSetupKeyName = SETUPSUP_TEXT("Setup");
constexpr TextLiteral kMarkValueName = SETUPSUP_TEXT("CurrentlyRegistered");
constexpr TextLiteral kResetMark = SETUPSUP_TEXT("0"); // written with its NUL
// Room for the mark, in characters (a longer mark is neither counted nor
// reset).
constexpr DWORD kMarkRoom = 256;

// Reads the mark of an open "Setup" key. Returns 1 when it is a string
// (resetting it to "0" unless it is exactly "0"), else 0.
template <typename Char>
int ResetMark(HKEY setup)
{
    Char mark[kMarkRoom];
    DWORD type = 0, length = sizeof mark;
    if (RegQueryValueExT(setup, kMarkValueName.Of<Char>(), &type, reinterpret_cast<BYTE*>(mark), &length) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return 0;
    // Looked at only within the characters read.
    if (!ValueTextIs(reinterpret_cast<const unsigned char*>(mark), length, static_cast<Char>('0'))) {
        const Char* reset = kResetMark.Of<Char>();
        RegSetValueExT(setup, kMarkValueName.Of<Char>(), REG_SZ, reinterpret_cast<const BYTE*>(reset),
                       2 * sizeof(Char)); // a failed write still counts
    }
    return 1;
}

template <typename Char>
int CountApps(const Char* path);

// Walks the subkeys of key (open at path); returns the applications found
// before the enumeration ended.
template <typename Char>
int CountAppsBelow(HKEY key, const Char* path)
{
    int count = 0;
    ForEachSubkey(key, path, [&count](const Char* child, const Char*) { count += CountApps(child); });
    return count;
}

template <typename Char>
int CountApps(const Char* path)
{
    unique_hkey key;
    if (RegOpenKeyExT(HKEY_CURRENT_USER, path, KEY_READ, key.put()) != ERROR_SUCCESS)
        return 0;
    unique_hkey setup;
    if (RegOpenKeyExT(key.get(), kSetupKeyName.Of<Char>(), KEY_ALL_ACCESS, setup.put()) == ERROR_SUCCESS)
        return ResetMark<Char>(setup.get()); // an application key: its subkeys are not visited
    return CountAppsBelow(key.get(), path);
}

// A null start path names no key: nothing is walked and nothing counted.
template <typename Char>
int ResetApps(const Char* startPath)
{
    return startPath ? CountApps(startPath) : 0;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI UnregisterZORBApps(const char* startPath) { return setupsup::ResetApps(startPath); }

// On the Windows 95 family a path without an exact ANSI form names no key,
// as a null path.
extern "C" int WINAPI UnregisterZORBAppsW(const wchar_t* startPath)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto path) { return setupsup::ResetApps(path); }, startPath);
}
