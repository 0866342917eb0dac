#include "tests/files/files_test_support.h"

#include <sddl.h>

namespace files_test {

bool CopyTo(const std::string& from, const std::string& to)
{
    return ::CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

KeyDaclOverride::KeyDaclOverride(HKEY root, const char* path, const char* sddl)
{
    if (::RegOpenKeyExA(root, path, 0, READ_CONTROL | WRITE_DAC, &key_) != ERROR_SUCCESS) {
        key_ = nullptr;
        return;
    }
    DWORD size = 0;
    ::RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
    original_.resize(size);
    if (size == 0 || ::RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, original_.data(), &size) != ERROR_SUCCESS)
        return;
    PSECURITY_DESCRIPTOR replacement = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &replacement, nullptr))
        return;
    applied_ = ::RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, replacement) == ERROR_SUCCESS;
    ::LocalFree(replacement);
}

KeyDaclOverride::~KeyDaclOverride()
{
    if (applied_)
        ::RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, original_.data());
    if (key_)
        ::RegCloseKey(key_);
}

std::wstring ReadStringW(HKEY root, const wchar_t* path, const wchar_t* name)
{
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof data[0];
    if (::RegGetValueW(root, path, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"";
    return data;
}

std::string ReadString(HKEY root, const char* path, const char* name)
{
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    if (::RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return "";
    return data;
}

} // namespace files_test
