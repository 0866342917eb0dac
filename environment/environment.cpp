// AddToPath, RemoveFromPath, SetEnvironmentValue, DeleteEnvironmentValue and
// their W twins: the environment of the user (HKCU\Environment) or of the
// machine, edited in the registry, then announced to running programs.
// On the NT family the values are read and written through the W registry
// calls, for the ANSI exports too, so that other entries' characters outside
// the ANSI code page keep their bytes; only the caller's text is converted.
// On the Windows 95 family, whose registry is ANSI, the A calls are used.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string_view>

#include "environment/path_entries.h"
#include "frame/ansi_fallback.h"
#include "frame/broadcast.h"
#include "frame/invariants.h"
#include "frame/process_turn.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// Result codes, as setupsup.h names them.
constexpr int kDone = SETUPSUP_ENV_DONE;
constexpr int kUnchanged = SETUPSUP_ENV_UNCHANGED;
constexpr int kBadArgument = SETUPSUP_ENV_BAD_ARGUMENT;
constexpr int kBadFolder = SETUPSUP_ENV_BAD_FOLDER;
constexpr int kBadScope = SETUPSUP_ENV_BAD_SCOPE;
constexpr int kBadPosition = SETUPSUP_ENV_BAD_POSITION;
constexpr int kDenied = SETUPSUP_ENV_DENIED;
constexpr int kFailed = SETUPSUP_ENV_FAILED;
constexpr int kNoMemory = SETUPSUP_ENV_NO_MEMORY;

constexpr wchar_t kPathName[] = L"Path";
constexpr char kUserKey[] = "Environment";
constexpr char kMachineKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Tries of a value read that another writer keeps making longer.
constexpr int kReadTries = 8;

// Held around each read-modify-write of an environment key, so that callers
// of this process never write over each other's edits. A spin lock of the
// process (frame/process_turn.h) rather than a named mutex: the issue asks
// for one process, the registry has no transactions to make other processes
// safe anyway, and a lock the process owns alone can never be held by a
// program that stopped.
constinit std::atomic_flag g_environmentHeld{};

// The export's code for a registry error.
int Failure(LONG error)
{
    if (error == ERROR_ACCESS_DENIED)
        return kDenied;
    if (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY)
        return kNoMemory;
    return kFailed;
}

// bytes bytes of heap memory (at least one), or null.
unique_hlocal Allocate(size_t bytes) { return unique_hlocal(::LocalAlloc(LMEM_FIXED, bytes ? bytes : 1)); }

// The caller's text in UTF-16: a W text as it is, an ANSI text converted
// from the ANSI code page into memory this object owns.
class WideArg {
public:
    const wchar_t* get() const { return text_; }
    int Take(const wchar_t* text)
    {
        text_ = text;
        return kDone;
    }
    int Take(const char* text)
    {
        const int units = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (units <= 0)
            return kBadArgument;
        block_ = Allocate(static_cast<size_t>(units) * sizeof(wchar_t));
        if (!block_)
            return kNoMemory;
        text_ = static_cast<wchar_t*>(block_.get());
        return ::MultiByteToWideChar(CP_ACP, 0, text, -1, static_cast<wchar_t*>(block_.get()), units) == units
                   ? kDone
                   : kBadArgument;
    }

private:
    unique_hlocal block_;
    const wchar_t* text_ = nullptr;
};

// A value as the registry holds it, in UTF-16 (converted from ANSI on the
// Windows 95 family): its exact bytes and type; present false when there is
// none.
struct RawValue {
    unique_hlocal data;
    DWORD bytes = 0;
    DWORD type = REG_NONE;
    bool present = false;

    const wchar_t* units() const { return static_cast<const wchar_t*>(data.get()); }
    // The text: the units up to the first NUL, or all of them without one.
    std::wstring_view Text() const
    {
        const size_t count = bytes / sizeof(wchar_t);
        size_t length = 0;
        while (length < count && units()[length] != L'\0')
            ++length;
        return {units(), length};
    }
    // The bytes after the text (its NUL, any more, an odd last byte): kept.
    DWORD TailBytes() const { return bytes - static_cast<DWORD>(Text().size() * sizeof(wchar_t)); }
};

#ifndef _WIN64
// The Windows 95 family's read: the ANSI value converted whole (NULs
// included) to UTF-16. The 64-bit DLL never runs there.
int ReadValueAnsi(HKEY key, const wchar_t* name, RawValue* value)
{
    AnsiText ansiName(name);
    if (!ansiName.exact())
        return kFailed;
    for (int tries = 0; tries < kReadTries; ++tries) {
        DWORD bytes = 0;
        LONG error = ::RegQueryValueExA(key, ansiName.get(), nullptr, &value->type, nullptr, &bytes);
        if (error == ERROR_FILE_NOT_FOUND)
            return kDone;
        if (error != ERROR_SUCCESS)
            return Failure(error);
        unique_hlocal ansi = Allocate(bytes);
        if (!ansi)
            return kNoMemory;
        error = ::RegQueryValueExA(key, ansiName.get(), nullptr, &value->type, static_cast<BYTE*>(ansi.get()), &bytes);
        if (error == ERROR_MORE_DATA)
            continue;
        if (error != ERROR_SUCCESS)
            return Failure(error);
        const char* text = static_cast<const char*>(ansi.get());
        const int units = bytes ? ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), nullptr, 0) : 0;
        value->data = Allocate(static_cast<size_t>(units) * sizeof(wchar_t));
        if (!value->data)
            return kNoMemory;
        if (units)
            ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), static_cast<wchar_t*>(value->data.get()),
                                  units);
        value->bytes = static_cast<DWORD>(units) * sizeof(wchar_t);
        value->present = true;
        return kDone;
    }
    return kFailed;
}

// The Windows 95 family's write: the UTF-16 bytes converted whole to ANSI.
LONG WriteValueAnsi(HKEY key, const wchar_t* name, DWORD type, const wchar_t* units, DWORD count)
{
    AnsiText ansiName(name);
    if (!ansiName.exact())
        return ERROR_INVALID_PARAMETER;
    const int bytes =
        count ? ::WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(count), nullptr, 0, nullptr, nullptr) : 0;
    unique_hlocal ansi = Allocate(static_cast<size_t>(bytes));
    if (!ansi)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (bytes)
        ::WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(count), static_cast<char*>(ansi.get()), bytes, nullptr,
                              nullptr);
    return ::RegSetValueExA(key, ansiName.get(), 0, type, static_cast<const BYTE*>(ansi.get()),
                            static_cast<DWORD>(bytes));
}
#endif

// Reads the value name of key whole, however long, into *value: kDone (also
// when there is none) or the failure's code. Sized from the value and read
// again while another writer makes it longer in between.
int ReadValue(HKEY key, const wchar_t* name, RawValue* value)
{
#ifndef _WIN64
    if (IsWindows95Family())
        return ReadValueAnsi(key, name, value);
#endif
    for (int tries = 0; tries < kReadTries; ++tries) {
        DWORD bytes = 0;
        LONG error = ::RegQueryValueExW(key, name, nullptr, &value->type, nullptr, &bytes);
        if (error == ERROR_FILE_NOT_FOUND)
            return kDone;
        if (error != ERROR_SUCCESS)
            return Failure(error);
        value->data = Allocate(bytes);
        if (!value->data)
            return kNoMemory;
        error = ::RegQueryValueExW(key, name, nullptr, &value->type, static_cast<BYTE*>(value->data.get()), &bytes);
        if (error == ERROR_MORE_DATA)
            continue;
        if (error != ERROR_SUCCESS)
            return Failure(error);
        value->bytes = bytes;
        value->present = true;
        return kDone;
    }
    return kFailed;
}

// Writes bytes bytes at data (UTF-16 units) as the value name of key.
LONG WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes)
{
#ifndef _WIN64
    if (IsWindows95Family())
        return WriteValueAnsi(key, name, type, static_cast<const wchar_t*>(data), bytes / sizeof(wchar_t));
#endif
    return ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
}

// Deletes the value name of key.
LONG DeleteValue(HKEY key, const wchar_t* name)
{
#ifndef _WIN64
    if (IsWindows95Family()) {
        AnsiText ansiName(name);
        return ansiName.exact() ? ::RegDeleteValueA(key, ansiName.get()) : ERROR_FILE_NOT_FOUND;
    }
#endif
    return ::RegDeleteValueW(key, name);
}

// True for the scopes setupsup.h names.
bool IsScope(DWORD scope) { return scope == SETUPSUP_FOR_USER || scope == SETUPSUP_FOR_MACHINE; }

// Opens (creates where missing) the Environment key of scope for reading
// and writing values: kDone or the failure's code.
int OpenEnvironmentKey(DWORD scope, unique_hkey* key)
{
    SETUPSUP_ASSERT(IsScope(scope));
    const bool user = scope == SETUPSUP_FOR_USER;
    const LONG error =
        ::RegCreateKeyExA(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, user ? kUserKey : kMachineKey, 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key->put(), nullptr);
    return error == ERROR_SUCCESS ? kDone : Failure(error);
}

// True when a and b are the same text ignoring case. Where CompareStringW is
// a stub (the Windows 95 family) the letters A-Z are folded alone.
bool SameIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() > 0x7FFFFFFF || b.size() > 0x7FFFFFFF)
        return false;
    const int order = ::CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                       b.data(), static_cast<int>(b.size()));
    if (order != 0)
        return order == CSTR_EQUAL;
    if (a.size() != b.size())
        return false;
    const auto fold = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i]))
            return false;
    return true;
}

// text with its %VARIABLES% expanded, in memory it owns; empty when it
// cannot be expanded (the variable text stays as written then).
class Expanded {
public:
    explicit Expanded(std::wstring_view text)
    {
        unique_hlocal source = Allocate((text.size() + 1) * sizeof(wchar_t));
        if (!source || text.size() >= 0x7FFFFFFF)
            return;
        wchar_t* copy = static_cast<wchar_t*>(source.get());
        std::memcpy(copy, text.data(), text.size() * sizeof(wchar_t));
        copy[text.size()] = L'\0';
        const DWORD room = ::ExpandEnvironmentStringsW(copy, nullptr, 0);
        if (room == 0)
            return;
        block_ = Allocate(static_cast<size_t>(room) * sizeof(wchar_t));
        if (!block_)
            return;
        const DWORD written = ::ExpandEnvironmentStringsW(copy, static_cast<wchar_t*>(block_.get()), room);
        if (written == 0 || written > room)
            return;
        text_ = std::wstring_view(static_cast<const wchar_t*>(block_.get()), written - 1);
    }
    std::wstring_view text() const { return text_; }

private:
    unique_hlocal block_;
    std::wstring_view text_;
};

// What the matcher compares a Path's entries with: the folder as given and
// expanded, each reduced to its core.
struct FolderForms {
    std::wstring_view written;
    std::wstring_view expanded;
};

// The Win32 matcher of path_entries: the same folder when the cores are the
// same ignoring case as written, or once both are expanded.
bool SameFolder(const void* context, std::wstring_view entry, std::wstring_view folder)
{
    const auto* forms = static_cast<const FolderForms*>(context);
    SETUPSUP_ASSERT(forms != nullptr && folder == forms->written);
    if (SameIgnoringCase(entry, folder))
        return true;
    if (forms->expanded.empty() || entry.find(L'%') == std::wstring_view::npos)
        return !forms->expanded.empty() && SameIgnoringCase(entry, forms->expanded);
    const Expanded expandedEntry(entry);
    return SameIgnoringCase(path_entries::Core(expandedEntry.text()), forms->expanded);
}

// The checks every Path export makes of its folder: kDone or the refusal.
int CheckFolder(std::wstring_view folder)
{
    if (path_entries::Core(folder).empty())
        return kBadArgument;
    return path_entries::HoldsSeparator(folder) ? kBadFolder : kDone;
}

// The edit of a Path value: the new text (size units) followed by the bytes
// after the old text, or, for a value that was not there, a NUL.
class EditedValue {
public:
    bool Allocate(const RawValue& old, size_t units)
    {
        tail_ = old.present ? old.TailBytes() : static_cast<DWORD>(sizeof(wchar_t));
        const size_t bytes = units * sizeof(wchar_t) + tail_;
        if (bytes > 0xFFFFFFFFu)
            return false;
        bytes_ = static_cast<DWORD>(bytes);
        block_ = setupsup::Allocate(bytes);
        return static_cast<bool>(block_);
    }
    wchar_t* units() { return static_cast<wchar_t*>(block_.get()); }
    // Puts the old value's tail after the first units of the new text.
    void Finish(const RawValue& old, size_t units)
    {
        bytes_ = static_cast<DWORD>(units * sizeof(wchar_t)) + tail_;
        BYTE* end = static_cast<BYTE*>(block_.get()) + units * sizeof(wchar_t);
        if (old.present)
            std::memcpy(end, static_cast<const BYTE*>(old.data.get()) + (old.bytes - tail_), tail_);
        else
            std::memset(end, 0, tail_);
    }
    const void* data() const { return block_.get(); }
    DWORD bytes() const { return bytes_; }

private:
    unique_hlocal block_;
    DWORD bytes_ = 0;
    DWORD tail_ = 0;
};

// Reads the Path value of key, refusing one that is not text. Value names
// are case-insensitive: the machine's is PATH on Wine 8, and a write by the
// name Path keeps the name the value has (measured).
int ReadPath(HKEY key, RawValue* value)
{
    const int read = ReadValue(key, kPathName, value);
    if (read != kDone)
        return read;
    return !value->present || value->type == REG_SZ || value->type == REG_EXPAND_SZ ? kDone : kFailed;
}

// Adds or removes folder in the Path value of scope, under the process's
// turn: kDone, kUnchanged or a failure. atFront only for an addition.
int EditPath(const wchar_t* folder, DWORD scope, bool adding, bool atFront)
{
    SETUPSUP_ASSERT(folder != nullptr && IsScope(scope));
    const std::wstring_view written = path_entries::Core(std::wstring_view(folder));
    const Expanded expanded(written);
    const FolderForms forms{written, path_entries::Core(expanded.text())};
    const path_entries::Matcher<wchar_t> matcher{SameFolder, &forms};

    ProcessTurn turn(g_environmentHeld);
    unique_hkey key;
    int result = OpenEnvironmentKey(scope, &key);
    RawValue old;
    if (result == kDone)
        result = ReadPath(key.get(), &old);
    if (result != kDone)
        return result;
    const std::wstring_view text = old.present ? old.Text() : std::wstring_view();
    const bool there = path_entries::HasEntry(text, std::wstring_view(folder), matcher);
    if (there == adding)
        return kUnchanged;
    EditedValue edited;
    if (!edited.Allocate(old, adding ? path_entries::AddedLength(text, std::wstring_view(folder)) : text.size()))
        return kNoMemory;
    size_t units = 0;
    if (adding) {
        path_entries::WriteAdded(text, std::wstring_view(folder), atFront, edited.units());
        units = path_entries::AddedLength(text, std::wstring_view(folder));
    } else {
        size_t removed = 0;
        units = path_entries::WriteRemoved(text, std::wstring_view(folder), matcher, edited.units(), &removed);
        SETUPSUP_ASSERT(removed > 0);
    }
    edited.Finish(old, units);
    const LONG error =
        WriteValue(key.get(), kPathName, old.present ? old.type : REG_EXPAND_SZ, edited.data(), edited.bytes());
    return error == ERROR_SUCCESS ? kDone : Failure(error);
}

// Announces a change of the environment to every top-level window; its
// outcome does not change result, which is passed through.
int Announced(int result)
{
    if (result == kDone)
        BroadcastToTopLevelWindows(WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"));
    return result;
}

// The folder and scope checks AddToPath and RemoveFromPath share, in the
// order of the header's codes: the folder taken into *wide, then kDone, or
// the first failure.
template <typename Char>
int TakeFolder(const Char* folder, DWORD scope, WideArg* wide)
{
    int result = folder ? wide->Take(folder) : kBadArgument;
    if (result == kDone)
        result = CheckFolder(wide->get());
    if (result != kDone)
        return result;
    return IsScope(scope) ? kDone : kBadScope;
}

// AddToPath over Char.
template <typename Char>
int AddFolder(const Char* folder, DWORD scope, DWORD where)
{
    WideArg wide;
    if (const int taken = TakeFolder(folder, scope, &wide); taken != kDone)
        return taken;
    if (where != SETUPSUP_PATH_AT_END && where != SETUPSUP_PATH_AT_FRONT)
        return kBadPosition;
    return Announced(EditPath(wide.get(), scope, true, where == SETUPSUP_PATH_AT_FRONT));
}

// RemoveFromPath over Char.
template <typename Char>
int RemoveFolder(const Char* folder, DWORD scope)
{
    WideArg wide;
    if (const int taken = TakeFolder(folder, scope, &wide); taken != kDone)
        return taken;
    return Announced(EditPath(wide.get(), scope, false, false));
}

// Writes the variable name of scope: REG_EXPAND_SZ when value holds '%'.
int WriteVariable(const wchar_t* name, const wchar_t* value, DWORD scope)
{
    SETUPSUP_ASSERT(name != nullptr && value != nullptr && IsScope(scope));
    const std::wstring_view text(value);
    if (text.size() >= 0x7FFFFFFF / sizeof(wchar_t))
        return kFailed;
    const DWORD type = text.find(L'%') == std::wstring_view::npos ? REG_SZ : REG_EXPAND_SZ;
    ProcessTurn turn(g_environmentHeld);
    unique_hkey key;
    const int opened = OpenEnvironmentKey(scope, &key);
    if (opened != kDone)
        return opened;
    const LONG error =
        WriteValue(key.get(), name, type, value, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    return error == ERROR_SUCCESS ? kDone : Failure(error);
}

// SetEnvironmentValue over Char.
template <typename Char>
int SetVariable(const Char* name, const Char* value, DWORD scope)
{
    if (!name || !value || !name[0] || !value[0])
        return kBadArgument;
    WideArg wideName, wideValue;
    int result = wideName.Take(name);
    if (result == kDone)
        result = wideValue.Take(value);
    if (result != kDone)
        return result;
    if (!IsScope(scope))
        return kBadScope;
    return Announced(WriteVariable(wideName.get(), wideValue.get(), scope));
}

// Deletes the variable name of scope, under the process's turn (released
// before the broadcast, which may wait on a window for seconds).
int DeleteVariableValue(const wchar_t* name, DWORD scope)
{
    SETUPSUP_ASSERT(name != nullptr && IsScope(scope));
    ProcessTurn turn(g_environmentHeld);
    unique_hkey key;
    const int opened = OpenEnvironmentKey(scope, &key);
    if (opened != kDone)
        return opened;
    const LONG error = DeleteValue(key.get(), name);
    return error == ERROR_SUCCESS ? kDone : error == ERROR_FILE_NOT_FOUND ? kUnchanged : Failure(error);
}

// DeleteEnvironmentValue over Char.
template <typename Char>
int DeleteVariable(const Char* name, DWORD scope)
{
    if (!name || !name[0])
        return kBadArgument;
    WideArg wideName;
    const int taken = wideName.Take(name);
    if (taken != kDone)
        return taken;
    if (!IsScope(scope))
        return kBadScope;
    return Announced(DeleteVariableValue(wideName.get(), scope));
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI AddToPath(const char* folder, DWORD scope, DWORD where)
{
    return setupsup::AddFolder(folder, scope, where);
}

// On the Windows 95 family a folder without an exact ANSI form is refused as
// a null one.
extern "C" int WINAPI AddToPathW(const wchar_t* folder, DWORD scope, DWORD where)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto... a) { return setupsup::AddFolder(a...); }, folder, scope, where);
}

extern "C" int WINAPI RemoveFromPath(const char* folder, DWORD scope) { return setupsup::RemoveFolder(folder, scope); }

extern "C" int WINAPI RemoveFromPathW(const wchar_t* folder, DWORD scope)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto... a) { return setupsup::RemoveFolder(a...); }, folder, scope);
}

extern "C" int WINAPI SetEnvironmentValue(const char* name, const char* value, DWORD scope)
{
    return setupsup::SetVariable(name, value, scope);
}

extern "C" int WINAPI SetEnvironmentValueW(const wchar_t* name, const wchar_t* value, DWORD scope)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto... a) { return setupsup::SetVariable(a...); }, name, value, scope);
}

extern "C" int WINAPI DeleteEnvironmentValue(const char* name, DWORD scope)
{
    return setupsup::DeleteVariable(name, scope);
}

extern "C" int WINAPI DeleteEnvironmentValueW(const wchar_t* name, DWORD scope)
{
    return setupsup::WideCall(
        setupsup::kAsNull, [](auto... a) { return setupsup::DeleteVariable(a...); }, name, scope);
}
