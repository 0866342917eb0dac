// Machine facts an installer asks for: GetPhysRAM, GetVirtRAM, FormatDate
// and QueryTerminalServer.
#include <windows.h>

#include "frame/unique_handles.h"
#include "setupsup.h"
#include "sysinfo/product_suite.h"

namespace setupsup {
namespace {

constexpr int kDateChars = SETUPSUP_DATE_SIZE; // the caller's buffer, NUL included
constexpr char kProductOptionsKey[] = "System\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kProductSuiteValue[] = "ProductSuite";

MEMORYSTATUS MemoryStatus()
{
    MEMORYSTATUS status = {};
    status.dwLength = sizeof status; // 32
    ::GlobalMemoryStatus(&status);
    return status;
}

} // namespace
} // namespace setupsup

// Both values are returned bit for bit as MEMORYSTATUS holds them.
extern "C" int WINAPI GetPhysRAM() { return static_cast<int>(setupsup::MemoryStatus().dwTotalPhys); }

extern "C" int WINAPI GetVirtRAM() { return static_cast<int>(setupsup::MemoryStatus().dwTotalVirtual); }

// Only the low 16 bits of each argument count, as SYSTEMTIME holds them.
// A null buffer formats nothing: 0, as for any date that cannot be written.
extern "C" int WINAPI FormatDate(int year, int month, int day, char* buffer)
{
    if (!buffer)
        return 0;
    SYSTEMTIME date = {};
    date.wYear = static_cast<WORD>(year);
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(day);
    return ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &date, nullptr, buffer, setupsup::kDateChars);
}

// 1 when the product suite list names "Terminal Server" exactly (case
// included); every failure on the way answers 0.
extern "C" int WINAPI QueryTerminalServer()
{
    setupsup::unique_hkey key;
    if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, setupsup::kProductOptionsKey, key.put()) != ERROR_SUCCESS)
        return 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), setupsup::kProductSuiteValue, nullptr, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0)
        return 0;
    setupsup::unique_hlocal block(::LocalAlloc(LMEM_ZEROINIT, size));
    if (!block)
        return 0;
    DWORD type = 0;
    auto* data = static_cast<BYTE*>(block.get());
    if (::RegQueryValueExA(key.get(), setupsup::kProductSuiteValue, nullptr, &type, data, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return 0;
    return setupsup::SuiteListHasTerminalServer(reinterpret_cast<const char*>(data), size) ? 1 : 0;
}
