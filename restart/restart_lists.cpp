#include "restart/restart_lists.h"

#include <cstring>

#include "frame/text_api.h"

namespace setupsup {

namespace {

// Reads of a value that grows meanwhile are tried this often.
constexpr int kReadAttempts = 4;

#ifndef _WIN64
constexpr char kRenameSection[] = "rename";
constexpr char kWininitName[] = "\\WININIT.INI";
// The first read of the section, and the most it may hold (the Windows 95
// family's profile calls handle sections of up to 64 KiB).
constexpr DWORD kFirstSectionRoom = 4096;
constexpr DWORD kLargestSectionRoom = 65536;

// The full path of WININIT.INI in the Windows folder into path: false when
// the folder cannot be found or the path would not fit.
bool WininitPath(char (&path)[MAX_PATH]) noexcept
{
    const UINT folder = ::GetWindowsDirectoryA(path, MAX_PATH);
    if (folder == 0 || folder + sizeof kWininitName > MAX_PATH)
        return false;
    // A root folder ("C:\") ends in its separator already.
    const UINT at = folder > 0 && path[folder - 1] == '\\' ? folder - 1 : folder;
    std::memcpy(path + at, kWininitName, sizeof kWininitName);
    return true;
}

// The [rename] section of file in a block of its own, with room for extra
// more bytes after it; *length: its bytes up to (not counting) the NUL that
// ends the list. Null when it cannot be read whole.
unique_hlocal ReadRenameSection(const char* file, size_t extra, DWORD* length) noexcept
{
    for (DWORD room = kFirstSectionRoom; room <= kLargestSectionRoom; room *= 2) {
        unique_hlocal block(::LocalAlloc(LMEM_FIXED, room + extra));
        if (!block)
            return unique_hlocal();
        char* section = static_cast<char*>(block.get());
        // room - 2 is the system's answer for a section cut short.
        *length = ::GetPrivateProfileSectionA(kRenameSection, section, room, file);
        if (*length + 2 < room) {
            section[*length] = '\0';
            return block;
        }
    }
    return unique_hlocal();
}
#endif

} // namespace

bool PendingListSnapshot::Take() noexcept
{
    if (RegOpenKeyExT(HKEY_LOCAL_MACHINE, kSessionManager.Of<wchar_t>(), KEY_QUERY_VALUE | KEY_SET_VALUE, key_.put()) !=
        ERROR_SUCCESS)
        return false;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD size = 0;
        const LONG found = RegQueryValueExT(key_.get(), kPendingRenames.Of<wchar_t>(), &type_, nullptr, &size);
        if (found == ERROR_FILE_NOT_FOUND) {
            existed_ = false;
            return true;
        }
        if (found != ERROR_SUCCESS)
            return false;
        data_.reset(::LocalAlloc(LMEM_FIXED, size ? size : 1));
        if (!data_)
            return false;
        size_ = size;
        const LONG read = RegQueryValueExT(key_.get(), kPendingRenames.Of<wchar_t>(), &type_,
                                           static_cast<BYTE*>(data_.get()), &size_);
        if (read == ERROR_SUCCESS) {
            existed_ = true;
            return true;
        }
        if (read != ERROR_MORE_DATA)
            return false;
    }
    return false;
}

bool PendingListSnapshot::Restore() const noexcept
{
    if (!existed_)
        return ::RegDeleteValueW(key_.get(), kPendingRenames.Of<wchar_t>()) == ERROR_SUCCESS;
    return RegSetValueExT(key_.get(), kPendingRenames.Of<wchar_t>(), type_, static_cast<const BYTE*>(data_.get()),
                          size_) == ERROR_SUCCESS;
}

#ifndef _WIN64
bool AddWininitRenames(const char* lines, size_t length) noexcept
{
    char file[MAX_PATH];
    DWORD kept = 0;
    if (!WininitPath(file))
        return false;
    unique_hlocal block = ReadRenameSection(file, length, &kept);
    if (!block)
        return false;
    char* section = static_cast<char*>(block.get());
    std::memcpy(section + kept, lines, length);
    if (!::WritePrivateProfileSectionA(kRenameSection, section, file))
        return false;
    // The Windows 95 family caches profile files: a call with nothing but
    // the file's name writes the cache out now, before a restart can come.
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
    return true;
}

bool WininitHasRenames() noexcept
{
    char file[MAX_PATH];
    DWORD length = 0;
    if (!WininitPath(file))
        return false;
    unique_hlocal block = ReadRenameSection(file, 0, &length);
    if (!block)
        return length > 0; // too long to read whole: not empty
    for (const char* line = static_cast<const char*>(block.get()); *line; line += std::strlen(line) + 1)
        if (*line != ';' && std::strchr(line, '='))
            return true;
    return false;
}
#endif

} // namespace setupsup
