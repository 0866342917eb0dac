// GetFileRefCount and SetFileRefCount: the system's shared-DLL reference
// count of a file, one value per file under the machine's SharedDLLs key.
// Raising or lowering a count is the caller's business; these only read and
// write the stored number. The key is opened, never created. The registry
// keeps value names in UTF-16, so the A and W exports read and write the
// same value for the same path.
#include <windows.h>

#include "frame/text.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr TextLiteral kSharedDllsKey = SETUPSUP_TEXT("Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs");

// Results of GetFileRefCount that are not counts. A stored count of either
// value reads back the same, indistinguishable from the failure.
constexpr int kCountUnreadable = SETUPSUP_REFCOUNT_UNREADABLE;
constexpr int kKeyUnopenable = SETUPSUP_REFCOUNT_KEY_NOT_OPENED;

// A null or empty name would address the key's default value, which holds no
// file's count.
template <typename Char>
bool IsFileName(const Char* fileName)
{
    return fileName && *fileName;
}

// The count stored for fileName; a name that is no file name (null, empty,
// or on the Windows 95 family a W name without an exact ANSI form) has none.
template <typename Char>
int ReadCount(const Char* fileName)
{
    unique_hkey key;
    if (RegOpenKeyExT(HKEY_LOCAL_MACHINE, kSharedDllsKey.Of<Char>(), KEY_READ, key.put()) != ERROR_SUCCESS)
        return kKeyUnopenable;
    if (!IsFileName(fileName))
        return kCountUnreadable;
    // Zeroed first: a value shorter than 4 bytes fills only the low bytes.
    DWORD count = 0;
    DWORD size = sizeof count;
    if (RegQueryValueExT(key.get(), fileName, nullptr, reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS)
        return kCountUnreadable;
    return static_cast<int>(count);
}

// The registry's own codes are SetFileRefCount's results.
static_assert(SETUPSUP_REFCOUNT_OK == ERROR_SUCCESS, "a stored count is the registry's success");

// Stores count for fileName: SETUPSUP_REFCOUNT_OK, or the Win32 error of the
// open or the write (ERROR_INVALID_PARAMETER for a name that is no file
// name).
template <typename Char>
int WriteCount(const Char* fileName, int count)
{
    unique_hkey key;
    LONG status = RegOpenKeyExT(HKEY_LOCAL_MACHINE, kSharedDllsKey.Of<Char>(), KEY_ALL_ACCESS, key.put());
    if (status != ERROR_SUCCESS)
        return static_cast<int>(status);
    if (!IsFileName(fileName))
        return ERROR_INVALID_PARAMETER;
    DWORD value = static_cast<DWORD>(count);
    return static_cast<int>(
        RegSetValueExT(key.get(), fileName, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
}

} // namespace
} // namespace setupsup

extern "C" SETUPSUP_API int WINAPI GetFileRefCount(const char* fileName) { return setupsup::ReadCount(fileName); }

// On the Windows 95 family a name without an exact ANSI form has no count,
// as a null name.
extern "C" SETUPSUP_API int WINAPI GetFileRefCountW(const wchar_t* fileName)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto name) { return setupsup::ReadCount(name); }, fileName);
}

extern "C" SETUPSUP_API int WINAPI SetFileRefCount(const char* fileName, int count)
{
    return setupsup::WriteCount(fileName, count);
}

// On the Windows 95 family a name without an exact ANSI form is refused as
// a null name.
extern "C" SETUPSUP_API int WINAPI SetFileRefCountW(const wchar_t* fileName, int count)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto... a) { return setupsup::WriteCount(a...); }, fileName, count);
}
