// Helpers of the component-registration and shared-DLL count tests.
#pragma once

#include <windows.h>
#include <string>

namespace files_test {

bool CopyTo(const std::string& from, const std::string& to);

// Replaces the DACL of an existing key with the one in sddl for as long as
// the object lives, then puts the original DACL back.
class KeyDaclOverride {
public:
    KeyDaclOverride(HKEY root, const char* path, const char* sddl);
    ~KeyDaclOverride();
    KeyDaclOverride(const KeyDaclOverride&) = delete;
    KeyDaclOverride& operator=(const KeyDaclOverride&) = delete;
    // True when the new DACL is in place.
    bool applied() const { return applied_; }

private:
    HKEY key_ = nullptr;
    std::string original_;
    bool applied_ = false;
};

// The data of a REG_SZ value (or "" when absent), for the wide and ANSI views.
std::wstring ReadStringW(HKEY root, const wchar_t* path, const wchar_t* name);
std::string ReadString(HKEY root, const char* path, const char* name);

} // namespace files_test
