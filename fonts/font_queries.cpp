// System font queries: GetSystemFont, GetSystemFixedFont, GetSystemCharset.
// All three name or measure the first TrueType face the system reports in
// the character set of the stock system font, so that text an installer
// shows in that face suits the system's language. The face-name queries
// have W twins that enumerate with the W functions, so that a face name
// outside the ANSI code page reaches the caller whole.
#include <windows.h>
#include <cstring>

#include "frame/text.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr char kFallbackFace[] = "System";
constexpr int kFallbackCharset = DEFAULT_CHARSET;
constexpr int kFaceChars = SETUPSUP_FACE_NAME_SIZE; // caller's buffer, NUL included
static_assert(kFaceChars == LF_FACESIZE, "the caller's buffer holds any face name the system reports");

template <typename Char>
struct FontPick {
    bool found = false;
    Char face[LF_FACESIZE] = {};
    BYTE charset = 0;
};

template <typename Char>
using LogFontOf = typename FontRecords<Char>::LogFont;
template <typename Char>
using TextMetricOf = typename FontRecords<Char>::TextMetric;

// Records the reported font and returns 0, which stops the enumeration.
template <typename Char>
int Record(const LogFontOf<Char>* font, LPARAM param)
{
    auto* pick = reinterpret_cast<FontPick<Char>*>(param);
    std::memcpy(pick->face, font->lfFaceName, sizeof pick->face);
    pick->face[LF_FACESIZE - 1] = 0;
    pick->charset = font->lfCharSet;
    pick->found = true;
    return 0;
}

// The LOGFONT handed to the callback is the head of an ENUMLOGFONTEX.
template <typename Char>
int CALLBACK AnyTrueType(const LogFontOf<Char>* font, const TextMetricOf<Char>*, DWORD type, LPARAM param)
{
    return (type & TRUETYPE_FONTTYPE) ? Record<Char>(font, param) : 1;
}

template <typename Char>
int CALLBACK FixedPitchTrueType(const LogFontOf<Char>* font, const TextMetricOf<Char>*, DWORD type, LPARAM param)
{
    bool fixed = (font->lfPitchAndFamily & FIXED_PITCH) != 0;
    return ((type & TRUETYPE_FONTTYPE) && fixed) ? Record<Char>(font, param) : 1;
}

// Enumerates the fonts of the system font's character set (an empty face
// name asks for every family) and fills pick with the first that passes
// test. Any failure on the way leaves pick not found.
template <typename Char>
bool FindFont(typename FontRecords<Char>::EnumProc test, FontPick<Char>* pick)
{
    unique_hdc dc(::CreateCompatibleDC(nullptr));
    if (!dc)
        return false;
    LogFontOf<Char> templ = {};
    if (GetObjectT(::GetStockObject(SYSTEM_FONT), &templ) == 0)
        return false;
    templ.lfFaceName[0] = 0;
    EnumFontFamiliesExT(dc.get(), &templ, test, reinterpret_cast<LPARAM>(pick));
    return pick->found;
}

template <typename Char>
void CopyFace(Char* buffer, const Char* face)
{
    int i = 0;
    for (; i < kFaceChars - 1 && face[i] != 0; ++i)
        buffer[i] = face[i];
    buffer[i] = 0;
}

// The first TrueType face of the system font's character set, or "System".
template <typename Char>
void WriteSystemFont(Char* faceName)
{
    FontPick<Char> pick;
    if (FindFont<Char>(AnyTrueType<Char>, &pick))
        CopyFace(faceName, pick.face);
    else
        CopyAscii(faceName, kFallbackFace);
}

// Prefers a fixed-pitch TrueType face, then any TrueType face.
template <typename Char>
void WriteSystemFixedFont(Char* faceName)
{
    FontPick<Char> fixed;
    if (FindFont<Char>(FixedPitchTrueType<Char>, &fixed))
        CopyFace(faceName, fixed.face);
    else
        WriteSystemFont(faceName);
}

// A face query of either export: the face written by write; the queries
// never fail, and a null buffer gets nothing and the usual result.
template <typename Char>
int ReportFace(void (*write)(Char*), Char* faceName)
{
    if (faceName)
        write(faceName);
    return SETUPSUP_FONT_OK;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI GetSystemFont(char* faceName)
{
    return setupsup::ReportFace(setupsup::WriteSystemFont, faceName);
}

// On the Windows 95 family: the ANSI query's face, widened.
extern "C" int WINAPI GetSystemFontW(wchar_t* faceName)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto face) { return setupsup::ReportFace(setupsup::WriteSystemFont, face); },
        setupsup::Out<setupsup::kFaceChars>(faceName));
}

extern "C" int WINAPI GetSystemFixedFont(char* faceName)
{
    return setupsup::ReportFace(setupsup::WriteSystemFixedFont, faceName);
}

// On the Windows 95 family: the ANSI query's face, widened.
extern "C" int WINAPI GetSystemFixedFontW(wchar_t* faceName)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto face) { return setupsup::ReportFace(setupsup::WriteSystemFixedFont, face); },
        setupsup::Out<setupsup::kFaceChars>(faceName));
}

extern "C" int WINAPI GetSystemCharset()
{
    setupsup::FontPick<char> pick;
    return setupsup::FindFont<char>(setupsup::AnyTrueType<char>, &pick) ? pick.charset : setupsup::kFallbackCharset;
}
