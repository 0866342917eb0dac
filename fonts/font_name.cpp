// The registry name of a font file (fonts/font_name.h): the sfnt table
// directory of each font, its name table's full-name record, the outline
// kind. Every number of the file is read through Read16 or Read32, which
// refuse a read past the bytes.
#include "fonts/font_name.h"

#include "frame/invariants.h"

namespace setupsup {
namespace {

constexpr std::uint32_t Tag(char a, char b, char c, char d) noexcept
{
    return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
           static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

constexpr std::uint32_t kTrueTypeVersion = 0x00010000;
constexpr std::uint32_t kAppleTrueTypeVersion = Tag('t', 'r', 'u', 'e');
constexpr std::uint32_t kCffVersion = Tag('O', 'T', 'T', 'O');
constexpr std::uint32_t kCollectionTag = Tag('t', 't', 'c', 'f');
constexpr std::uint32_t kNameTag = Tag('n', 'a', 'm', 'e');
constexpr std::uint32_t kGlyfTag = Tag('g', 'l', 'y', 'f');
constexpr std::uint32_t kCffTag = Tag('C', 'F', 'F', ' ');
constexpr std::uint32_t kCff2Tag = Tag('C', 'F', 'F', '2');

constexpr std::size_t kSfntHeaderBytes = 12;
constexpr std::size_t kTableRecordBytes = 16;
constexpr std::size_t kNameHeaderBytes = 6;
constexpr std::size_t kNameRecordBytes = 12;
constexpr std::size_t kCollectionHeaderBytes = 12;

constexpr std::uint16_t kFullNameId = 4;
constexpr std::uint16_t kMacPlatform = 1;
constexpr std::uint16_t kMacRomanEncoding = 0;
constexpr std::uint16_t kWindowsPlatform = 3;
constexpr std::uint16_t kWindowsUnicodeBmp = 1;
constexpr std::uint16_t kWindowsUnicodeFull = 10;
constexpr std::uint16_t kUsEnglish = 0x409;

constexpr char16_t kTrueTypeSuffix[] = u" (TrueType)";
constexpr char16_t kOpenTypeSuffix[] = u" (OpenType)";
constexpr char16_t kJoiner[] = u" & ";

// The file's bytes.
struct Bytes {
    const unsigned char* data;
    std::size_t size;
};

// Whether [at, at + length) lies within b, without overflowing.
bool Holds(const Bytes& b, std::size_t at, std::size_t length) noexcept
{
    return at <= b.size && length <= b.size - at;
}

// The big-endian 16-bit number at at, if b holds it.
bool Read16(const Bytes& b, std::size_t at, std::uint16_t* value) noexcept
{
    if (!Holds(b, at, 2))
        return false;
    *value = static_cast<std::uint16_t>(b.data[at] << 8 | b.data[at + 1]);
    return true;
}

// The big-endian 32-bit number at at, if b holds it.
bool Read32(const Bytes& b, std::size_t at, std::uint32_t* value) noexcept
{
    if (!Holds(b, at, 4))
        return false;
    *value = static_cast<std::uint32_t>(b.data[at]) << 24 | static_cast<std::uint32_t>(b.data[at + 1]) << 16 |
             static_cast<std::uint32_t>(b.data[at + 2]) << 8 | b.data[at + 3];
    return true;
}

bool IsSfntVersion(std::uint32_t version) noexcept
{
    return version == kTrueTypeVersion || version == kAppleTrueTypeVersion || version == kCffVersion;
}

// The chosen full-name string of one font: its place in the file and its
// encoding (Mac OS Roman bytes, else UTF-16BE).
struct NameString {
    std::size_t offset = 0;
    std::size_t length = 0;
    bool macRoman = false;
};

// The first unit of s (0 for an empty string). b holds s.
char16_t FirstUnit(const Bytes& b, const NameString& s) noexcept
{
    std::uint16_t unit = 0;
    if (s.macRoman)
        return s.length > 0 ? MacRomanToUnicode(b.data[s.offset]) : u'\0';
    return Read16(b, s.offset, &unit) && s.length >= 2 ? static_cast<char16_t>(unit) : u'\0';
}

// How well a full-name record fits Windows' choice: 0 the Windows Unicode US
// English record, 1 any other Windows record, 2 Mac OS Roman, 3 none of them.
constexpr int kUnfit = 3;
int Fitness(std::uint16_t platform, std::uint16_t encoding, std::uint16_t language) noexcept
{
    if (platform == kWindowsPlatform)
        return (encoding == kWindowsUnicodeBmp || encoding == kWindowsUnicodeFull) && language == kUsEnglish ? 0 : 1;
    return platform == kMacPlatform && encoding == kMacRomanEncoding ? 2 : kUnfit;
}

// The best non-empty full-name record of the name table at [tableAt,
// tableAt + tableLength) (within b), the first of equally fit ones: kOk and
// *chosen, kNoName, or kDamaged for a record or a full-name string past the
// table.
FontNameResult FindFullName(const Bytes& b, std::size_t tableAt, std::size_t tableLength, NameString* chosen) noexcept
{
    SETUPSUP_ASSERT(Holds(b, tableAt, tableLength));
    const Bytes table{b.data + tableAt, tableLength};
    std::uint16_t count = 0, stringsAt = 0;
    if (!Read16(table, 2, &count) || !Read16(table, 4, &stringsAt))
        return FontNameResult::kDamaged;
    int best = kUnfit;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kNameHeaderBytes + i * kNameRecordBytes;
        std::uint16_t platform = 0, encoding = 0, language = 0, nameId = 0, length = 0, offset = 0;
        if (!Read16(table, at, &platform) || !Read16(table, at + 2, &encoding) || !Read16(table, at + 4, &language) ||
            !Read16(table, at + 6, &nameId) || !Read16(table, at + 8, &length) || !Read16(table, at + 10, &offset))
            return FontNameResult::kDamaged;
        if (nameId != kFullNameId)
            continue;
        const std::size_t stringAt = static_cast<std::size_t>(stringsAt) + offset;
        if (!Holds(table, stringAt, length))
            return FontNameResult::kDamaged;
        const int fitness = Fitness(platform, encoding, language);
        const NameString candidate{tableAt + stringAt, length, platform == kMacPlatform};
        if (fitness < best && FirstUnit(b, candidate) != u'\0') {
            best = fitness;
            *chosen = candidate;
        }
    }
    return best < kUnfit ? FontNameResult::kOk : FontNameResult::kNoName;
}

// One font's directory at at: every table within the file, the full name
// chosen, and whether its outlines are CFF ('OTTO', or a CFF table without
// glyf). kDamaged also where at holds no sfnt version.
FontNameResult ReadFont(const Bytes& b, std::size_t at, NameString* name, bool* cff) noexcept
{
    std::uint32_t version = 0;
    std::uint16_t tables = 0;
    if (!Holds(b, at, kSfntHeaderBytes) || !Read32(b, at, &version) || !Read16(b, at + 4, &tables) ||
        !IsSfntVersion(version))
        return FontNameResult::kDamaged;
    bool glyf = false, cffTable = false, named = false;
    std::size_t nameAt = 0, nameLength = 0;
    for (std::size_t i = 0; i < tables; ++i) {
        const std::size_t record = at + kSfntHeaderBytes + i * kTableRecordBytes;
        std::uint32_t tag = 0, offset = 0, length = 0;
        if (!Read32(b, record, &tag) || !Read32(b, record + 8, &offset) || !Read32(b, record + 12, &length) ||
            !Holds(b, offset, length))
            return FontNameResult::kDamaged;
        glyf = glyf || tag == kGlyfTag;
        cffTable = cffTable || tag == kCffTag || tag == kCff2Tag;
        if (tag == kNameTag && !named) {
            named = true;
            nameAt = offset;
            nameLength = length;
        }
    }
    *cff = version == kCffVersion || (cffTable && !glyf);
    return named ? FindFullName(b, nameAt, nameLength, name) : FontNameResult::kNoName;
}

void PutText(const char16_t* text, FontNameSink& sink) noexcept
{
    for (; *text; ++text)
        sink.Put(*text);
}

// The units of s up to its end or its first NUL. b holds s.
void PutName(const Bytes& b, const NameString& s, FontNameSink& sink) noexcept
{
    SETUPSUP_ASSERT(Holds(b, s.offset, s.length));
    const std::size_t units = s.macRoman ? s.length : s.length / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const std::size_t at = s.offset + (s.macRoman ? i : 2 * i);
        const char16_t unit =
            s.macRoman ? MacRomanToUnicode(b.data[at]) : static_cast<char16_t>(b.data[at] << 8 | b.data[at + 1]);
        if (unit == u'\0')
            return;
        sink.Put(unit);
    }
}

// The fonts whose directories are at offsets[0, count): each one read
// before anything is put, so that a damaged one puts nothing.
FontNameResult ReadFonts(const Bytes& b, const std::size_t* offsets, std::size_t count, FontNameSink& sink) noexcept
{
    SETUPSUP_ASSERT(count >= 1 && count <= kMostCollectionFonts);
    NameString names[kMostCollectionFonts];
    bool cff = false;
    for (std::size_t i = 0; i < count; ++i) {
        bool fontCff = false;
        const FontNameResult read = ReadFont(b, offsets[i], &names[i], &fontCff);
        if (read != FontNameResult::kOk)
            return read;
        cff = i == 0 ? fontCff : cff; // a collection is named by its first font's outlines
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            PutText(kJoiner, sink);
        PutName(b, names[i], sink);
    }
    PutText(cff ? kOpenTypeSuffix : kTrueTypeSuffix, sink);
    return FontNameResult::kOk;
}

// A collection: version 1 or 2, between 1 and kMostCollectionFonts fonts,
// its offset table within the file.
FontNameResult ReadCollection(const Bytes& b, FontNameSink& sink) noexcept
{
    std::uint16_t major = 0;
    std::uint32_t fonts = 0;
    if (!Read16(b, 4, &major) || !Read32(b, 8, &fonts) || (major != 1 && major != 2) || fonts == 0 ||
        fonts > kMostCollectionFonts)
        return FontNameResult::kDamaged;
    std::size_t offsets[kMostCollectionFonts];
    for (std::size_t i = 0; i < fonts; ++i) {
        std::uint32_t offset = 0;
        if (!Read32(b, kCollectionHeaderBytes + 4 * i, &offset))
            return FontNameResult::kDamaged;
        offsets[i] = offset;
    }
    return ReadFonts(b, offsets, fonts, sink);
}

// Mac OS Roman's upper half (0x80 to 0xFF), as Apple maps it today (0xDB the
// euro sign, 0xF0 the Apple logo in the private use area).
constexpr char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

} // namespace

char16_t MacRomanToUnicode(unsigned char byte) noexcept
{
    return byte < 0x80 ? static_cast<char16_t>(byte) : kMacRomanHigh[byte - 0x80];
}

FontNameResult ReadFontFileName(const unsigned char* bytes, std::size_t size, FontNameSink& sink) noexcept
{
    SETUPSUP_ASSERT(bytes || size == 0);
    const Bytes b{bytes, size};
    std::uint32_t magic = 0;
    if (!Read32(b, 0, &magic))
        return FontNameResult::kNotAFont;
    if (magic == kCollectionTag)
        return ReadCollection(b, sink);
    if (!IsSfntVersion(magic))
        return FontNameResult::kNotAFont;
    const std::size_t first = 0;
    return ReadFonts(b, &first, 1, sink);
}

} // namespace setupsup
