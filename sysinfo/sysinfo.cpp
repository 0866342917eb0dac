// Machine facts an installer asks for: GetPhysRAM, GetVirtRAM, FormatDate
// and QueryTerminalServer.
#include <windows.h>

#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
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

// The user's short date in buffer (kDateChars characters): characters
// written with the NUL, or 0. Only the low 16 bits of each argument count,
// as SYSTEMTIME holds them. A null buffer formats nothing: 0, as for any
// date that cannot be written.
template <typename Char>
int FormatShortDate(int year, int month, int day, Char* buffer)
{
    if (!buffer)
        return SETUPSUP_DATE_FAILED;
    const SYSTEMTIME date = DateOf(year, month, day);
    return GetDateFormatT(&date, buffer, kDateChars);
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI GetPhysRAM() { return setupsup::MemoryResult(setupsup::MemoryStatus().dwTotalPhys); }

extern "C" int WINAPI GetVirtRAM() { return setupsup::MemoryResult(setupsup::MemoryStatus().dwTotalVirtual); }

extern "C" int WINAPI FormatDate(int year, int month, int day, char* buffer)
{
    return setupsup::FormatShortDate(year, month, day, buffer);
}

// The same in UTF-16, in a buffer of 49 characters. On the Windows 95 family
// the ANSI text, widened, and its characters counted.
extern "C" int WINAPI FormatDateW(int year, int month, int day, wchar_t* buffer)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto... a) { return setupsup::FormatShortDate(a...); }, year, month, day,
        setupsup::CountedOut<setupsup::kDateChars>(buffer));
}

// SETUPSUP_TERMINAL_SERVER when the product suite list names "Terminal
// Server" exactly (case included); every failure on the way answers
// SETUPSUP_NOT_TERMINAL_SERVER.
extern "C" int WINAPI QueryTerminalServer()
{
    setupsup::unique_hkey key;
    if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, setupsup::kProductOptionsKey, key.put()) != ERROR_SUCCESS)
        return SETUPSUP_NOT_TERMINAL_SERVER;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), setupsup::kProductSuiteValue, nullptr, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0)
        return SETUPSUP_NOT_TERMINAL_SERVER;
    setupsup::unique_hlocal block(::LocalAlloc(LMEM_ZEROINIT, size));
    if (!block)
        return SETUPSUP_NOT_TERMINAL_SERVER;
    DWORD type = 0;
    auto* data = static_cast<BYTE*>(block.get());
    if (::RegQueryValueExA(key.get(), setupsup::kProductSuiteValue, nullptr, &type, data, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return SETUPSUP_NOT_TERMINAL_SERVER;
    return setupsup::SuiteListHasTerminalServer(reinterpret_cast<const char*>(data), size)
               ? SETUPSUP_TERMINAL_SERVER
               : SETUPSUP_NOT_TERMINAL_SERVER;
}
