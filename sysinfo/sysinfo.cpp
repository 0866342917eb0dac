// Machine facts an installer asks for: GetPhysRAM, GetVirtRAM, FormatDate
// and QueryTerminalServer.
#include <windows.h>
#include <cstring>

#include "frame/unique_handles.h"
#include "setupsup.h"

namespace {

constexpr int kDateChars = SETUPSUP_DATE_SIZE; // the caller's buffer, NUL included
constexpr char kProductOptionsKey[] = "System\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kProductSuiteValue[] = "ProductSuite";
constexpr char kTerminalServer[] = "Terminal Server";

MEMORYSTATUS MemoryStatus()
{
    MEMORYSTATUS status = {};
    status.dwLength = sizeof status; // 32
    ::GlobalMemoryStatus(&status);
    return status;
}

// Walks the NUL-separated strings of a REG_MULTI_SZ block of size bytes.
// The walk ends at the first empty string or at the end of the data, so a
// list without its final empty string (or a last string without its NUL)
// is never read past.
bool SuiteListHasTerminalServer(const char* list, DWORD size)
{
    const size_t wanted = sizeof kTerminalServer - 1;
    for (DWORD at = 0; at < size;) {
        size_t length = strnlen(list + at, size - at);
        if (length == 0)
            return false;
        if (length == wanted && std::memcmp(list + at, kTerminalServer, wanted) == 0)
            return true;
        at += static_cast<DWORD>(length) + 1;
    }
    return false;
}

} // namespace

// Both values are returned bit for bit as MEMORYSTATUS holds them.
extern "C" int WINAPI GetPhysRAM() { return static_cast<int>(MemoryStatus().dwTotalPhys); }

extern "C" int WINAPI GetVirtRAM() { return static_cast<int>(MemoryStatus().dwTotalVirtual); }

// Only the low 16 bits of each argument count, as SYSTEMTIME holds them.
extern "C" int WINAPI FormatDate(int year, int month, int day, char* buffer)
{
    SYSTEMTIME date = {};
    date.wYear = static_cast<WORD>(year);
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(day);
    return ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &date, nullptr, buffer, kDateChars);
}

// 1 when the product suite list names "Terminal Server" exactly (case
// included); every failure on the way answers 0.
extern "C" int WINAPI QueryTerminalServer()
{
    setupsup::unique_hkey key;
    if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, kProductOptionsKey, key.put()) != ERROR_SUCCESS)
        return 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), kProductSuiteValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size == 0)
        return 0;
    setupsup::unique_hlocal block(::LocalAlloc(LMEM_ZEROINIT, size));
    if (!block)
        return 0;
    DWORD type = 0;
    auto* data = static_cast<BYTE*>(block.get());
    if (::RegQueryValueExA(key.get(), kProductSuiteValue, nullptr, &type, data, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return 0;
    return SuiteListHasTerminalServer(reinterpret_cast<const char*>(data), size) ? 1 : 0;
}
