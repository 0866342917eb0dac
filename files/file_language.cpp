// The language of a file's version resource: the two bytes of the language
// identifier of its first translation entry, and the primary language's name.
#include <windows.h>

#include <cstring>

#include "frame/system_entries.h"
#include "frame/text.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

constexpr int kOk = SETUPSUP_LANGUAGE_OK;
constexpr int kNoLanguage = SETUPSUP_LANGUAGE_UNAVAILABLE;

// The caller's name buffer holds at least this many bytes; every name below
// is an array of this size, so no name written can overrun it.
constexpr size_t kLanguageNameSize = SETUPSUP_LANGUAGE_NAME_SIZE;
using LanguageName = char[kLanguageNameSize];

constexpr LanguageName kUnavailable = "Unavailable";
constexpr TextLiteral kTranslationValue = SETUPSUP_TEXT("\\VarFileInfo\\Translation");
constexpr LanguageName kUnknown = "Unknown";

struct LanguageEntry {
    BYTE primary; // low byte of the language identifier
    LanguageName name;
};

constexpr LanguageEntry kLanguages[] = {
    {0x00, "NEUTRAL"},  {0x02, "BULGARIAN"}, {0x04, "CHINESE"},   {0x05, "CZECH"},   {0x06, "DANISH"},
    {0x07, "GERMAN"},   {0x08, "GREEK"},     {0x09, "ENGLISH"},   {0x0A, "SPANISH"}, {0x0B, "FINNISH"},
    {0x0C, "FRENCH"},   {0x0E, "HUNGARIAN"}, {0x0F, "ICELANDIC"}, {0x10, "ITALIAN"}, {0x11, "JAPANESE"},
    {0x12, "KOREAN"},   {0x13, "DUTCH"},     {0x14, "NORWEGIAN"}, {0x15, "POLISH"},  {0x16, "PORTUGUESE"},
    {0x18, "ROMANIAN"}, {0x19, "RUSSIAN"},   {0x1A, "CROATIAN"},  {0x1B, "SLOVAK"},  {0x1D, "SWEDISH"},
    {0x1F, "TURKISH"},  {0x24, "SLOVENIAN"},
};

const char* LanguageNameOf(BYTE primary)
{
    for (const LanguageEntry& entry : kLanguages)
        if (entry.primary == primary)
            return entry.name;
    return kUnknown;
}

// Every name is ASCII and fits the caller's kLanguageNameSize characters.
template <typename Char>
void SetName(Char* buffer, const char* name)
{
    if (buffer)
        CopyAscii(buffer, name);
}

void SetByte(int* out, BYTE value)
{
    if (out)
        *out = value;
}

// Reads the first translation entry of path's version resource into entry
// (the language identifier's two bytes, then the code page's). Without the
// version information functions there is no entry to read.
template <typename Char>
bool ReadFirstTranslation(const Char* path, BYTE entry[4])
{
    VersionEntries<Char> version;
    if (!ResolveVersionEntries(&version))
        return false;
    DWORD ignored = 0;
    DWORD size = version.getFileVersionInfoSize(path, &ignored);
    if (size == 0)
        return false;
    unique_hlocal block(::LocalAlloc(LMEM_FIXED, size));
    if (!block)
        return false;
    if (!version.getFileVersionInfo(path, 0, size, block.get()))
        return false;
    void* value = nullptr;
    UINT length = 0;
    if (!version.verQueryValue(block.get(), kTranslationValue.Of<Char>(), &value, &length) || length == 0)
        return false;
    // The entry is copied out before the block that holds it is freed; a value
    // shorter than one entry yields only the bytes it has.
    std::memset(entry, 0, 4);
    std::memcpy(entry, value, length < 4 ? length : 4);
    return true;
}

// The outputs preset to "Unavailable", then the first translation's bytes
// and language name. A null path names no file: the presets stand.
template <typename Char>
int ReportLanguage(const Char* path, int* lowByte, int* highByte, Char* name)
{
    SetByte(lowByte, 0);
    SetByte(highByte, 0);
    SetName(name, kUnavailable);
    BYTE entry[4];
    if (!path || !ReadFirstTranslation(path, entry))
        return kNoLanguage;
    SetByte(lowByte, entry[0]);
    SetByte(highByte, entry[1]);
    SetName(name, LanguageNameOf(entry[0]));
    return kOk;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI GetFileLanguage(const char* path, int* lowByte, int* highByte, char* name)
{
    return setupsup::ReportLanguage(path, lowByte, highByte, name);
}

// On the Windows 95 family a path without an exact ANSI form names no file,
// as a null path.
extern "C" int WINAPI GetFileLanguageW(const wchar_t* path, int* lowByte, int* highByte, wchar_t* name)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto... a) { return setupsup::ReportLanguage(a...); }, path, lowByte, highByte,
        setupsup::Out<setupsup::kLanguageNameSize>(name));
}
