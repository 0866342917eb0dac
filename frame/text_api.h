// The system's functions that take or give text, under one overloaded name
// each, ending in T: the A function for char, the W function for wchar_t.
// Code written once over a character type calls these, and its W
// instantiation converts nothing to an ANSI code page. The W functions are
// called only on the NT family: on the Windows 95 family they are stubs that
// fail, and every W export takes its A path there (frame/wide_call.h).
// Only the arguments the library varies are parameters.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace setupsup {

// ---- Files and modules -------------------------------------------------------

inline HANDLE CreateFileT(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) noexcept
{
    return ::CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}
inline HANDLE CreateFileT(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) noexcept
{
    return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

inline DWORD GetFileAttributesT(const char* path) noexcept { return ::GetFileAttributesA(path); }
inline DWORD GetFileAttributesT(const wchar_t* path) noexcept { return ::GetFileAttributesW(path); }
inline BOOL SetFileAttributesT(const char* path, DWORD attributes) noexcept
{
    return ::SetFileAttributesA(path, attributes);
}
inline BOOL SetFileAttributesT(const wchar_t* path, DWORD attributes) noexcept
{
    return ::SetFileAttributesW(path, attributes);
}
inline BOOL DeleteFileT(const char* path) noexcept { return ::DeleteFileA(path); }
inline BOOL DeleteFileT(const wchar_t* path) noexcept { return ::DeleteFileW(path); }
// Copies from over to, replacing an existing to.
inline BOOL CopyFileT(const char* from, const char* to) noexcept { return ::CopyFileA(from, to, FALSE); }
inline BOOL CopyFileT(const wchar_t* from, const wchar_t* to) noexcept { return ::CopyFileW(from, to, FALSE); }

inline BOOL CreateDirectoryT(const char* path) noexcept { return ::CreateDirectoryA(path, nullptr); }
inline BOOL CreateDirectoryT(const wchar_t* path) noexcept { return ::CreateDirectoryW(path, nullptr); }

inline UINT GetWindowsDirectoryT(char* path, UINT room) noexcept { return ::GetWindowsDirectoryA(path, room); }
inline UINT GetWindowsDirectoryT(wchar_t* path, UINT room) noexcept { return ::GetWindowsDirectoryW(path, room); }

inline HMODULE LoadLibraryT(const char* path) noexcept { return ::LoadLibraryA(path); }
inline HMODULE LoadLibraryT(const wchar_t* path) noexcept { return ::LoadLibraryW(path); }
inline HMODULE LoadLibraryExT(const char* path, DWORD flags) noexcept { return ::LoadLibraryExA(path, nullptr, flags); }
inline HMODULE LoadLibraryExT(const wchar_t* path, DWORD flags) noexcept
{
    return ::LoadLibraryExW(path, nullptr, flags);
}

// ---- Registry ----------------------------------------------------------------

inline LONG RegOpenKeyExT(HKEY root, const char* path, REGSAM access, HKEY* key) noexcept
{
    return ::RegOpenKeyExA(root, path, 0, access, key);
}
inline LONG RegOpenKeyExT(HKEY root, const wchar_t* path, REGSAM access, HKEY* key) noexcept
{
    return ::RegOpenKeyExW(root, path, 0, access, key);
}

// Creates or opens root\path: an empty class, non-volatile, no security
// attributes.
inline LONG RegCreateKeyExT(HKEY root, const char* path, REGSAM access, HKEY* key) noexcept
{
    return ::RegCreateKeyExA(root, path, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE, access, nullptr, key,
                             nullptr);
}
inline LONG RegCreateKeyExT(HKEY root, const wchar_t* path, REGSAM access, HKEY* key) noexcept
{
    return ::RegCreateKeyExW(root, path, 0, const_cast<wchar_t*>(L""), REG_OPTION_NON_VOLATILE, access, nullptr, key,
                             nullptr);
}

inline LONG RegEnumValueT(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD* type, BYTE* data,
                          DWORD* dataLength) noexcept
{
    return ::RegEnumValueA(key, index, name, nameLength, nullptr, type, data, dataLength);
}
inline LONG RegEnumValueT(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength, DWORD* type, BYTE* data,
                          DWORD* dataLength) noexcept
{
    return ::RegEnumValueW(key, index, name, nameLength, nullptr, type, data, dataLength);
}

inline LONG RegEnumKeyExT(HKEY key, DWORD index, char* name, DWORD* nameLength, char* keyClass,
                          DWORD* classLength) noexcept
{
    return ::RegEnumKeyExA(key, index, name, nameLength, nullptr, keyClass, classLength, nullptr);
}
inline LONG RegEnumKeyExT(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength, wchar_t* keyClass,
                          DWORD* classLength) noexcept
{
    return ::RegEnumKeyExW(key, index, name, nameLength, nullptr, keyClass, classLength, nullptr);
}

inline LONG RegQueryValueExT(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* length) noexcept
{
    return ::RegQueryValueExA(key, name, nullptr, type, data, length);
}
inline LONG RegQueryValueExT(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* length) noexcept
{
    return ::RegQueryValueExW(key, name, nullptr, type, data, length);
}

inline LONG RegSetValueExT(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD length) noexcept
{
    return ::RegSetValueExA(key, name, 0, type, data, length);
}
inline LONG RegSetValueExT(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD length) noexcept
{
    return ::RegSetValueExW(key, name, 0, type, data, length);
}

inline LONG RegDeleteValueT(HKEY key, const char* name) noexcept { return ::RegDeleteValueA(key, name); }
inline LONG RegDeleteValueT(HKEY key, const wchar_t* name) noexcept { return ::RegDeleteValueW(key, name); }

// The longest value name (in characters, without its NUL) and value data (in
// bytes) of key. Char only picks the A or W function.
template <typename Char>
LONG RegQueryValueMaximaT(HKEY key, DWORD* maxNameLength, DWORD* maxDataLength) noexcept
{
    if constexpr (sizeof(Char) == 1)
        return ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, maxNameLength,
                                  maxDataLength, nullptr, nullptr);
    else
        return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, maxNameLength,
                                  maxDataLength, nullptr, nullptr);
}

// ---- Text --------------------------------------------------------------------

// Compares two texts of the given lengths as file names: in any case.
inline int CompareStringT(const char* a, int aLength, const char* b, int bLength) noexcept
{
    return ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, aLength, b, bLength);
}
inline int CompareStringT(const wchar_t* a, int aLength, const wchar_t* b, int bLength) noexcept
{
    return ::CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, aLength, b, bLength);
}

inline DWORD CharUpperBuffT(char* text, DWORD length) noexcept { return ::CharUpperBuffA(text, length); }
inline DWORD CharUpperBuffT(wchar_t* text, DWORD length) noexcept { return ::CharUpperBuffW(text, length); }

inline int GetDateFormatT(const SYSTEMTIME* date, char* out, int room) noexcept
{
    return ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, date, nullptr, out, room);
}
inline int GetDateFormatT(const SYSTEMTIME* date, wchar_t* out, int room) noexcept
{
    return ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, date, nullptr, out, room);
}

// ---- Fonts and shell -----------------------------------------------------------

inline int AddFontResourceT(const char* path) noexcept { return ::AddFontResourceA(path); }
inline int AddFontResourceT(const wchar_t* path) noexcept { return ::AddFontResourceW(path); }
inline BOOL RemoveFontResourceT(const char* path) noexcept { return ::RemoveFontResourceA(path); }
inline BOOL RemoveFontResourceT(const wchar_t* path) noexcept { return ::RemoveFontResourceW(path); }

// The font records of each character type.
template <typename Char>
struct FontRecords;
template <>
struct FontRecords<char> {
    using LogFont = LOGFONTA;
    using TextMetric = TEXTMETRICA;
    using EnumProc = FONTENUMPROCA;
};
template <>
struct FontRecords<wchar_t> {
    using LogFont = LOGFONTW;
    using TextMetric = TEXTMETRICW;
    using EnumProc = FONTENUMPROCW;
};

inline int GetObjectT(HGDIOBJ object, LOGFONTA* font) noexcept { return ::GetObjectA(object, sizeof *font, font); }
inline int GetObjectT(HGDIOBJ object, LOGFONTW* font) noexcept { return ::GetObjectW(object, sizeof *font, font); }

inline int EnumFontFamiliesExT(HDC dc, LOGFONTA* font, FONTENUMPROCA callback, LPARAM parameter) noexcept
{
    return ::EnumFontFamiliesExA(dc, font, callback, parameter, 0);
}
inline int EnumFontFamiliesExT(HDC dc, LOGFONTW* font, FONTENUMPROCW callback, LPARAM parameter) noexcept
{
    return ::EnumFontFamiliesExW(dc, font, callback, parameter, 0);
}

// With no owner window.
inline HINSTANCE ShellExecuteT(const char* verb, const char* file, const char* parameters, const char* directory,
                               int showCommand) noexcept
{
    return ::ShellExecuteA(nullptr, verb, file, parameters, directory, showCommand);
}
inline HINSTANCE ShellExecuteT(const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                               const wchar_t* directory, int showCommand) noexcept
{
    return ::ShellExecuteW(nullptr, verb, file, parameters, directory, showCommand);
}

} // namespace setupsup
