// System font queries: GetSystemFont, GetSystemFixedFont, GetSystemCharset.
// All three name or measure the first TrueType face the system reports in
// the character set of the stock system font, so that text an installer
// shows in that face suits the system's language.
#include <windows.h>
#include <cstring>

#include "frame/unique_handles.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr char kFallbackFace[] = "System";
constexpr int kFallbackCharset = DEFAULT_CHARSET;
constexpr int kFaceBytes = SETUPSUP_FACE_NAME_SIZE; // caller's buffer, NUL included
static_assert(kFaceBytes == LF_FACESIZE, "the caller's buffer holds any face name the system reports");

struct FontPick {
    bool found = false;
    char face[LF_FACESIZE] = {};
    BYTE charset = 0;
};

// Records the reported font and returns 0, which stops the enumeration.
int Record(const LOGFONTA* font, LPARAM param)
{
    auto* pick = reinterpret_cast<FontPick*>(param);
    std::memcpy(pick->face, font->lfFaceName, sizeof pick->face);
    pick->face[sizeof pick->face - 1] = '\0';
    pick->charset = font->lfCharSet;
    pick->found = true;
    return 0;
}

// The LOGFONTA handed to the callback is the head of an ENUMLOGFONTEXA.
int CALLBACK AnyTrueType(const LOGFONTA* font, const TEXTMETRICA*, DWORD type, LPARAM param)
{
    return (type & TRUETYPE_FONTTYPE) ? Record(font, param) : 1;
}

int CALLBACK FixedPitchTrueType(const LOGFONTA* font, const TEXTMETRICA*, DWORD type, LPARAM param)
{
    bool fixed = (font->lfPitchAndFamily & FIXED_PITCH) != 0;
    return ((type & TRUETYPE_FONTTYPE) && fixed) ? Record(font, param) : 1;
}

// Enumerates the fonts of the system font's character set (an empty face
// name asks for every family) and fills pick with the first that passes
// test. Any failure on the way leaves pick not found.
bool FindFont(FONTENUMPROCA test, FontPick* pick)
{
    unique_hdc dc(::CreateCompatibleDC(nullptr));
    if (!dc)
        return false;
    LOGFONTA templ = {};
    if (::GetObjectA(::GetStockObject(SYSTEM_FONT), sizeof templ, &templ) == 0)
        return false;
    templ.lfFaceName[0] = '\0';
    ::EnumFontFamiliesExA(dc.get(), &templ, test, reinterpret_cast<LPARAM>(pick), 0);
    return pick->found;
}

void CopyFace(char* buffer, const char* face) { ::lstrcpynA(buffer, face, kFaceBytes); }

} // namespace
} // namespace setupsup

// The font queries never fail: a null buffer gets nothing and the usual 0.
extern "C" int WINAPI GetSystemFont(char* faceName)
{
    if (!faceName)
        return SETUPSUP_FONT_OK;
    setupsup::FontPick pick;
    setupsup::CopyFace(faceName,
                       setupsup::FindFont(setupsup::AnyTrueType, &pick) ? pick.face : setupsup::kFallbackFace);
    return SETUPSUP_FONT_OK;
}

// Prefers a fixed-pitch TrueType face, then any TrueType face.
extern "C" int WINAPI GetSystemFixedFont(char* faceName)
{
    if (!faceName)
        return SETUPSUP_FONT_OK;
    setupsup::FontPick fixed, any;
    if (setupsup::FindFont(setupsup::FixedPitchTrueType, &fixed))
        setupsup::CopyFace(faceName, fixed.face);
    else
        setupsup::CopyFace(faceName,
                           setupsup::FindFont(setupsup::AnyTrueType, &any) ? any.face : setupsup::kFallbackFace);
    return SETUPSUP_FONT_OK;
}

extern "C" int WINAPI GetSystemCharset()
{
    setupsup::FontPick pick;
    return setupsup::FindFont(setupsup::AnyTrueType, &pick) ? pick.charset : setupsup::kFallbackCharset;
}
