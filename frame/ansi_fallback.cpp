#include "frame/ansi_fallback.h"

#include <cwchar>

#include "frame/invariants.h"

namespace setupsup {

namespace {

// True when ansi converts back to exactly text: no character became '?' or
// a best-fit look-alike on the way.
bool RoundTrips(const char* ansi, const wchar_t* text) noexcept
{
    const int chars = ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (chars <= 0 || static_cast<size_t>(chars) != std::wcslen(text) + 1)
        return false;
    unique_hlocal back(::LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(chars) * sizeof(wchar_t)));
    if (!back)
        return false;
    auto* wide = static_cast<wchar_t*>(back.get());
    return ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, chars) == chars && std::wcscmp(wide, text) == 0;
}

} // namespace

AnsiText::AnsiText(const wchar_t* text) noexcept
{
    if (!text)
        return;
    exact_ = false;
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    block_.reset(::LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(bytes)));
    if (!block_)
        return;
    auto* ansi = static_cast<char*>(block_.get());
    if (::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, bytes, nullptr, nullptr) != bytes)
        return;
    exact_ = RoundTrips(ansi, text);
}

int WidenAnsi(const char* text, wchar_t* out, int room) noexcept
{
    SETUPSUP_ASSERT(room > 0);
    const int written = ::MultiByteToWideChar(CP_ACP, 0, text, -1, out, room);
    if (written == 0)
        out[0] = L'\0';
    return written;
}

} // namespace setupsup
