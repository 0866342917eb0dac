// The font file side of GetFontName (fonts/font_name_file.h).
#include "fonts/font_name_file.h"

#include <climits>
#include <cstring>

#include "fonts/font_name.h"
#include "frame/file_io.h"
#include "frame/invariants.h"
#include "frame/unique_handles.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// The shortest name: one character, " (TrueType)" and the NUL.
static_assert(SETUPSUP_FONTNAME_ROOM_NEEDED == -(1 + 11 + 1));

// The one translation of a reading's end into the export's code.
int CodeOf(FontNameResult result) noexcept
{
    switch (result) {
        case FontNameResult::kOk:
            return SETUPSUP_FONTNAME_OK;
        case FontNameResult::kNotAFont:
            return SETUPSUP_FONTNAME_NOT_A_FONT;
        case FontNameResult::kDamaged:
            return SETUPSUP_FONTNAME_DAMAGED;
        case FontNameResult::kNoName:
            break;
    }
    return SETUPSUP_FONTNAME_NO_NAME;
}

// Counts the units put and keeps the first room of them in units.
class UnitWriter final : public FontNameSink {
public:
    UnitWriter(wchar_t* units, std::size_t room) noexcept : units_(units), room_(room) {}
    void Put(char16_t unit) noexcept override
    {
        if (count_ < room_)
            units_[count_] = static_cast<wchar_t>(unit);
        ++count_;
    }
    std::size_t count() const noexcept { return count_; }

private:
    wchar_t* units_;
    std::size_t room_;
    std::size_t count_ = 0;
};

// The whole file at path in *block (LocalAlloc'd), its length in *size: OK,
// CANNOT_OPEN (also when memory for it is lacking) or DAMAGED (too large).
template <typename PathChar>
int ReadWholeFile(const PathChar* path, unique_hlocal* block, std::size_t* size) noexcept
{
    const unique_hfile file = OpenShared(path, GENERIC_READ);
    std::uint64_t length = 0;
    if (!file || !FileLength(file.get(), &length))
        return SETUPSUP_FONTNAME_CANNOT_OPEN;
    if (length > kMostFontFileBytes)
        return SETUPSUP_FONTNAME_DAMAGED;
    const auto bytes = static_cast<std::size_t>(length); // at most kMostFontFileBytes
    block->reset(::LocalAlloc(LMEM_FIXED, bytes > 0 ? bytes : 1));
    std::size_t got = 0;
    if (!*block || ReadAt(file.get(), 0, block->get(), bytes, &got) != FileTransfer::kOk || got != bytes)
        return SETUPSUP_FONTNAME_CANNOT_OPEN;
    *size = bytes;
    return SETUPSUP_FONTNAME_OK;
}

// The registry name of the file at path as NUL-ended UTF-16 in *name
// (LocalAlloc'd), *count units without the NUL: OK or a failure's code.
// The bytes are read twice, once to count and once to write.
template <typename PathChar>
int WideFontName(const PathChar* path, unique_hlocal* name, std::size_t* count) noexcept
{
    unique_hlocal file;
    std::size_t size = 0;
    const int read = ReadWholeFile(path, &file, &size);
    if (read != SETUPSUP_FONTNAME_OK)
        return read;
    const auto* bytes = static_cast<const unsigned char*>(file.get());
    UnitWriter counter(nullptr, 0);
    const FontNameResult result = ReadFontFileName(bytes, size, counter);
    if (result != FontNameResult::kOk)
        return CodeOf(result);
    name->reset(::LocalAlloc(LMEM_FIXED, (counter.count() + 1) * sizeof(wchar_t)));
    if (!*name)
        return SETUPSUP_FONTNAME_CANNOT_OPEN;
    auto* units = static_cast<wchar_t*>(name->get());
    UnitWriter writer(units, counter.count());
    const FontNameResult again = ReadFontFileName(bytes, size, writer);
    SETUPSUP_ASSERT(again == FontNameResult::kOk && writer.count() == counter.count());
    (void)again;
    units[counter.count()] = L'\0';
    *count = counter.count();
    return SETUPSUP_FONTNAME_OK;
}

// The result for a name of needed characters with its NUL: OK when room
// holds it, else minus needed. At most 256 fonts of 65535-unit names (two
// bytes a unit in the ANSI code page) keep needed far below INT_MAX.
int Fits(std::size_t needed, DWORD room) noexcept
{
    SETUPSUP_ASSERT(needed <= INT_MAX);
    return needed <= room ? SETUPSUP_FONTNAME_OK : -static_cast<int>(needed);
}

// name (count units) into out exactly.
int Deliver(const wchar_t* name, std::size_t count, wchar_t* out, DWORD room) noexcept
{
    const int fits = Fits(count + 1, room);
    if (fits == SETUPSUP_FONTNAME_OK)
        std::memcpy(out, name, (count + 1) * sizeof(wchar_t));
    return fits;
}

// name (count units) into out in the ANSI code page, converted as the
// system's A functions convert (default character and best fit).
int Deliver(const wchar_t* name, std::size_t count, char* out, DWORD room) noexcept
{
    const int units = static_cast<int>(count); // below INT_MAX, as Fits states
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, name, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return SETUPSUP_FONTNAME_NO_NAME;
    const int fits = Fits(static_cast<std::size_t>(bytes) + 1, room);
    if (fits != SETUPSUP_FONTNAME_OK)
        return fits;
    ::WideCharToMultiByte(CP_ACP, 0, name, units, out, bytes, nullptr, nullptr);
    out[bytes] = '\0';
    return SETUPSUP_FONTNAME_OK;
}

// The export's body for a path of PathChar and an out of OutChar (the same
// but for the W twin on the Windows 95 family).
template <typename PathChar, typename OutChar>
int FontNameInto(const PathChar* path, OutChar* out, DWORD room) noexcept
{
    if (!out && room > 0)
        return SETUPSUP_FONTNAME_BAD_BUFFER;
    if (room > 0)
        out[0] = 0;
    if (!path || !path[0])
        return SETUPSUP_FONTNAME_CANNOT_OPEN;
    unique_hlocal name;
    std::size_t count = 0;
    const int made = WideFontName(path, &name, &count);
    if (made != SETUPSUP_FONTNAME_OK)
        return made;
    return Deliver(static_cast<const wchar_t*>(name.get()), count, out, room);
}

} // namespace

template <typename Char>
int ReadFontName(const Char* path, Char* out, DWORD room)
{
    return FontNameInto(path, out, room);
}

template int ReadFontName<char>(const char* path, char* out, DWORD room);
template int ReadFontName<wchar_t>(const wchar_t* path, wchar_t* out, DWORD room);

#ifndef _WIN64
int ReadFontNameOfAnsiPath(const char* path, wchar_t* out, DWORD room) { return FontNameInto(path, out, room); }
#endif

} // namespace setupsup
