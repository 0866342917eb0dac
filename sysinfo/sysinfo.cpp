// Machine facts an installer asks for: GetPhysRAM, GetVirtRAM, FormatDate
// and QueryTerminalServer.
#include <windows.h>

#include "frame/ansi_fallback.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "setupsup.h"
#include "sysinfo/product_suite.h"

namespace setupsup {
namespace {

constexpr int kDateChars = SETUPSUP_DATE_SIZE; // the caller's buffer, NUL included
constexpr char kProductOptionsKey[] = "System\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kProductSuiteValue[] = "ProductSuite";

SYSTEMTIME DateOf(int year, int month, int day)
{
    SYSTEMTIME date = {};
    date.wYear = static_cast<WORD>(year);
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(day);
    return date;
}

#ifdef _WIN64
// The largest memory size a 64-bit build returns: 2 GiB - 1, what
// GlobalMemoryStatus gives a 32-bit program (not large-address-aware) for
// any size above it, so that the result, a signed 32-bit number to most
// installers, never wraps to a small or negative one.
constexpr SIZE_T kLargestMemoryResult = 0x7FFFFFFF;
#endif

// A size of MEMORYSTATUS as the export's 32-bit result: bit for bit in the
// 32-bit build, where the record's sizes are 32-bit; clamped in the 64-bit
// build, where they are 64-bit (a 64-bit process's virtual space alone is
// terabytes).
int MemoryResult(SIZE_T bytes)
{
#ifdef _WIN64
    return static_cast<int>(bytes < kLargestMemoryResult ? bytes : kLargestMemoryResult);
#else
    return static_cast<int>(bytes);
#endif
}

MEMORYSTATUS MemoryStatus()
{
    MEMORYSTATUS status = {};
    status.dwLength = sizeof status; // 32
    ::GlobalMemoryStatus(&status);
    return status;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI GetPhysRAM() { return setupsup::MemoryResult(setupsup::MemoryStatus().dwTotalPhys); }

extern "C" int WINAPI GetVirtRAM() { return setupsup::MemoryResult(setupsup::MemoryStatus().dwTotalVirtual); }

// Only the low 16 bits of each argument count, as SYSTEMTIME holds them.
// A null buffer formats nothing: 0, as for any date that cannot be written.
extern "C" int WINAPI FormatDate(int year, int month, int day, char* buffer)
{
    if (!buffer)
        return SETUPSUP_DATE_FAILED;
    const SYSTEMTIME date = setupsup::DateOf(year, month, day);
    return setupsup::GetDateFormatT(&date, buffer, setupsup::kDateChars);
}

// The same in UTF-16: characters written, NUL included, of a buffer of 49
// characters. On the Windows 95 family the ANSI text, converted.
extern "C" int WINAPI FormatDateW(int year, int month, int day, wchar_t* buffer)
{
    if (!buffer)
        return SETUPSUP_DATE_FAILED;
    const SYSTEMTIME date = setupsup::DateOf(year, month, day);
    if (!setupsup::IsWindows95Family())
        return setupsup::GetDateFormatT(&date, buffer, setupsup::kDateChars);
    char ansi[setupsup::kDateChars];
    if (setupsup::GetDateFormatT(&date, ansi, setupsup::kDateChars) == 0)
        return SETUPSUP_DATE_FAILED;
    return setupsup::WidenAnsi(ansi, buffer, setupsup::kDateChars);
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
