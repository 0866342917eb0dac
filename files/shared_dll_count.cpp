// GetFileRefCount and SetFileRefCount: the system's shared-DLL reference
// count of a file, one value per file under the machine's SharedDLLs key.
// Raising or lowering a count is the caller's business; these only read and
// write the stored number. The key is opened, never created.
#include <windows.h>

#include "frame/unique_handles.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Results of GetFileRefCount that are not counts. A stored count of either
// value reads back the same, indistinguishable from the failure.
constexpr int kCountUnreadable = SETUPSUP_REFCOUNT_UNREADABLE;
constexpr int kKeyUnopenable = SETUPSUP_REFCOUNT_KEY_NOT_OPENED;

// A null or empty name would address the key's default value, which holds no
// file's count.
bool IsFileName(const char* fileName) { return fileName && *fileName; }

} // namespace
} // namespace setupsup

extern "C" SETUPSUP_API int WINAPI GetFileRefCount(const char* fileName)
{
    setupsup::unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, setupsup::kSharedDllsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return setupsup::kKeyUnopenable;
    if (!setupsup::IsFileName(fileName))
        return setupsup::kCountUnreadable;
    // Zeroed first: a value shorter than 4 bytes fills only the low bytes.
    DWORD count = 0;
    DWORD size = sizeof count;
    if (::RegQueryValueExA(key.get(), fileName, nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size) !=
        ERROR_SUCCESS)
        return setupsup::kCountUnreadable;
    return static_cast<int>(count);
}

extern "C" SETUPSUP_API int WINAPI SetFileRefCount(const char* fileName, int count)
{
    setupsup::unique_hkey key;
    LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, setupsup::kSharedDllsKey, 0, KEY_ALL_ACCESS, key.put());
    if (status != ERROR_SUCCESS)
        return static_cast<int>(status);
    if (!setupsup::IsFileName(fileName))
        return ERROR_INVALID_PARAMETER;
    DWORD value = static_cast<DWORD>(count);
    return static_cast<int>(
        ::RegSetValueExA(key.get(), fileName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
}
