// UnregisterZORBApps: walks a tree of the current user's hive, finds the
// application keys (keys with a "Setup" subkey that opens with full access)
// and resets each one's "CurrentlyRegistered" mark to "0".
#include <windows.h>

#include "frame/unique_handles.h"
#include "registry/registry_paths.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr const char* kSetupKeyName = "Setup";
constexpr const char* kMarkValueName = "CurrentlyRegistered";
constexpr BYTE kResetMark[] = "0"; // written with its NUL: 2 bytes
constexpr DWORD kMarkRoom = 256;

// Reads the mark of an open "Setup" key. Returns 1 when it is a string
// (resetting it to "0" unless it is exactly "0"), else 0.
int ResetMark(HKEY setup)
{
    BYTE mark[kMarkRoom];
    DWORD type = 0, length = sizeof mark;
    if (::RegQueryValueExA(setup, kMarkValueName, nullptr, &type, mark, &length) != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    bool isZero = length >= 1 && mark[0] == '0' && (length == 1 || mark[1] == 0);
    if (!isZero)
        ::RegSetValueExA(setup, kMarkValueName, 0, REG_SZ, kResetMark,
                         sizeof kResetMark); // a failed write still counts
    return 1;
}

int CountApps(const char* path);

// Walks the subkeys of key (open at path); returns the applications found
// before the enumeration ended.
int CountAppsBelow(HKEY key, const char* path)
{
    int count = 0;
    ForEachSubkey(key, path, [&count](const char* child, const char*) { count += CountApps(child); });
    return count;
}

int CountApps(const char* path)
{
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return 0;
    unique_hkey setup;
    if (::RegOpenKeyExA(key.get(), kSetupKeyName, 0, KEY_ALL_ACCESS, setup.put()) == ERROR_SUCCESS)
        return ResetMark(setup.get()); // an application key: its subkeys are not visited
    return CountAppsBelow(key.get(), path);
}

} // namespace
} // namespace setupsup

// A null start path names no key: nothing is walked and nothing counted.
extern "C" int WINAPI UnregisterZORBApps(const char* startPath)
{
    return startPath ? setupsup::CountApps(startPath) : 0;
}
