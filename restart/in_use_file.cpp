// DeleteInUseFile and ReplaceInUseFile: a file deleted, or a copy of another
// put in its place, now when the system lets the call change it, else at the
// next restart, arranged the way the system arranges it (restart_lists.h).
//
// "Held" means that another opener keeps the file from being deleted or
// renamed: the system refused with a sharing or lock violation, or with
// access denied for a file that is not read-only and that an open for
// deletion, sharing everything, either reaches (a running program's image,
// which the system keeps mapped) or finds refused by a share mode. Any
// other refusal (a missing file, a read-only file, a folder, access denied
// by the file's or folder's security) is a failure: nothing is arranged,
// since the restart would meet the same refusal.
//
// A replacement is always copied first beside the target, into its folder
// under a unique 8.3 name, so that the rename that puts it in place, now or
// at the restart, stays on one volume and happens whole or not at all. An
// arranged replacement is two entries of the list: the rename of the copy
// over the target, then the delete of the copy, which finds nothing once the
// rename was carried out and removes the copy when it was not (the target
// still held at the restart): no copy is left behind either way.
#include <windows.h>

#include <cstring>

#include "frame/ansi_fallback.h"
#include "frame/invariants.h"
#include "frame/system_entries.h"
#include "frame/text.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "restart/in_use_file.h"
#include "restart/restart_lists.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// Result codes, as setupsup.h names them.
constexpr int kDone = SETUPSUP_INUSE_DONE;
constexpr int kAtRestart = SETUPSUP_INUSE_AT_RESTART;
constexpr int kBadPath = SETUPSUP_INUSE_BAD_PATH;
constexpr int kNotFound = SETUPSUP_INUSE_NOT_FOUND;
constexpr int kNotAFile = SETUPSUP_INUSE_NOT_A_FILE;
constexpr int kReadOnly = SETUPSUP_INUSE_READ_ONLY;
constexpr int kDenied = SETUPSUP_INUSE_DENIED;
constexpr int kNotArranged = SETUPSUP_INUSE_NOT_ARRANGED;
constexpr int kFailed = SETUPSUP_INUSE_FAILED;
constexpr int kUnavailable = SETUPSUP_INUSE_UNAVAILABLE;

// The copy's name: "~ss", five hexadecimal digits and ".tmp", eight and
// three characters, as WININIT.EXE on the Windows 95 family needs them;
// tried with this many numbers before the folder counts as full.
constexpr char kCopyPrefix[] = "~ss";
constexpr char kCopySuffix[] = ".tmp";
constexpr int kCopyDigits = 5;
constexpr int kNameAttempts = 64;
// The name's length with its NUL.
constexpr size_t kCopyNameRoom = sizeof kCopyPrefix - 1 + kCopyDigits + sizeof kCopySuffix;
// Paths this long or longer get the extended form, so that the copy's name
// beside them still fits the system's calls.
constexpr size_t kLongPath = MAX_PATH - kCopyNameRoom;

// The export's code for a refusal that no other opener caused. A name the
// system cannot parse (a '?' where an ANSI caller's code page had no
// character) or a share that is not there names no file either.
int FailureOf(DWORD error)
{
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return kNotFound;
        case ERROR_ACCESS_DENIED:
            return kDenied;
        default:
            return kFailed;
    }
}

// True for a separator of the system's paths.
template <typename Char>
bool IsSeparator(Char c)
{
    return c == '\\' || c == '/';
}

// The length of path's folder with its last separator: where a name beside
// the file begins. In ANSI text a double-byte character's trail byte may
// look like a separator, so each character is stepped over whole.
template <typename Char>
size_t FolderLength(const Char* path)
{
    SETUPSUP_ASSERT(path != nullptr);
    size_t folder = 0;
    for (size_t i = 0; path[i]; ++i) {
        if constexpr (sizeof(Char) == 1) {
            if (::IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(path[i])) && path[i + 1]) {
                ++i;
                continue;
            }
        }
        if (IsSeparator(path[i]))
            folder = i + 1;
    }
    return folder;
}

// A full path as the system's calls take it. ANSI paths stay as they are
// (the ANSI calls take no more than MAX_PATH bytes anyway). A UTF-16 path
// too long for the copy's name beside it gets the extended form
// ("\\?\C:\...", "\\?\UNC\server\share\..."), which the calls take up to
// 32767 characters long; it is made absolute and its "." and ".." steps
// resolved first, since the extended form skips that.
template <typename Char>
class SystemPath {
public:
    explicit SystemPath(const Char* path) : path_(path)
    {
        if constexpr (sizeof(Char) > 1) {
            if (TextLength(path) >= kLongPath && !(path[0] == '\\' && path[1] == '\\' && path[2] == '?'))
                path_ = Extend(path);
        }
    }
    // Null when memory ran out or the path could not be made absolute.
    const Char* get() const { return path_; }

private:
    const Char* Extend(const wchar_t* path)
    {
        // Room for "\\?\UNC", which takes the place of a UNC path's first "\".
        constexpr DWORD kPrefixRoom = 6;
        const DWORD needed = ::GetFullPathNameW(path, 0, nullptr, nullptr);
        block_.reset(needed ? ::LocalAlloc(LMEM_FIXED, (needed + kPrefixRoom) * sizeof(wchar_t)) : nullptr);
        if (!block_)
            return nullptr;
        wchar_t* full = static_cast<wchar_t*>(block_.get());
        const DWORD length = ::GetFullPathNameW(path, needed, full + kPrefixRoom, nullptr);
        if (length == 0 || length >= needed)
            return nullptr;
        const bool unc = full[kPrefixRoom] == L'\\';
        const wchar_t* prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
        const size_t prefixLength = unc ? 7 : 4;
        wchar_t* start = full + kPrefixRoom + (unc ? 1 : 0) - prefixLength;
        for (size_t i = 0; i < prefixLength; ++i)
            start[i] = prefix[i];
        return start;
    }

    const Char* path_;
    unique_hlocal block_;
};

// A name in the folder of another file, "~ssXXXXX.tmp", that no file had
// when it was made.
template <typename Char>
class NameBeside {
public:
    // Makes the name beside `file`; with reserve, creates it as an empty file
    // so that no one else takes it meanwhile. NO_ERROR, or the system's error.
    DWORD Make(const Char* file, bool reserve)
    {
        const size_t folder = FolderLength(file);
        block_.reset(::LocalAlloc(LMEM_FIXED, (folder + kCopyNameRoom) * sizeof(Char)));
        if (!block_)
            return ERROR_NOT_ENOUGH_MEMORY;
        Char* name = static_cast<Char*>(block_.get());
        for (size_t i = 0; i < folder; ++i)
            name[i] = file[i];
        // Seeded by the time and the thread, so that two calls of one moment
        // (or of two processes) try different numbers first.
        DWORD number = ::GetTickCount() * 2654435761u ^ ::GetCurrentThreadId() ^ (::GetCurrentProcessId() << 12);
        for (int attempt = 0; attempt < kNameAttempts; ++attempt, number += 0x9E37) {
            Char* at = name + folder;
            CopyAscii(at, kCopyPrefix);
            at += sizeof kCopyPrefix - 1;
            for (int digit = kCopyDigits - 1; digit >= 0; --digit)
                *at++ = static_cast<Char>("0123456789abcdef"[(number >> (4 * digit)) & 0xF]);
            CopyAscii(at, kCopySuffix);
            const DWORD taken = Claim(name, reserve);
            if (taken != ERROR_FILE_EXISTS && taken != ERROR_ALREADY_EXISTS)
                return taken;
        }
        return ERROR_FILE_EXISTS;
    }
    const Char* get() const { return static_cast<const Char*>(block_.get()); }

private:
    // NO_ERROR when name is free (and, with reserve, now an empty file).
    static DWORD Claim(const Char* name, bool reserve)
    {
        if (!reserve)
            return GetFileAttributesT(name) == INVALID_FILE_ATTRIBUTES ? NO_ERROR : ERROR_FILE_EXISTS;
        unique_hfile created(CreateFileT(name, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
        return created ? NO_ERROR : ::GetLastError();
    }

    unique_hlocal block_;
};

// Whether error, from a delete or rename of the existing file path that is
// not read-only, means that another opener holds it (the header comment says
// what counts).
template <typename Char>
bool IsHeld(const Char* path, DWORD error)
{
    SETUPSUP_ASSERT(error != NO_ERROR);
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return true;
    if (error != ERROR_ACCESS_DENIED)
        return false;
#ifndef _WIN64
    // No share mode for deletion to ask about; the file is not read-only.
    if (IsWindows95Family())
        return true;
#endif
    unique_hfile probe(
        CreateFileT(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, 0));
    return probe || ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// Removes a copy this call made, whatever attributes it took from its source.
template <typename Char>
void RemoveCopy(const Char* copy)
{
    SetFileAttributesT(copy, FILE_ATTRIBUTE_NORMAL);
    DeleteFileT(copy);
}

#ifndef _WIN64
// ---- The Windows 95 family: WININIT.INI and moves that do not replace -------

// The short (8.3) form of the existing file path, into shortPath: WININIT.EXE
// runs before Windows, where long names do not exist yet.
bool ShortPath(const char* path, char (&shortPath)[MAX_PATH])
{
    const DWORD length = ::GetShortPathNameA(path, shortPath, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// Appends "key=value" and its NUL at *at, which has room for it.
void AppendLine(char** at, const char* key, const char* value)
{
    const size_t keyLength = std::strlen(key), valueLength = std::strlen(value);
    std::memcpy(*at, key, keyLength);
    (*at)[keyLength] = '=';
    std::memcpy(*at + keyLength + 1, value, valueLength + 1);
    *at += keyLength + valueLength + 2;
}

// Arranges, in WININIT.INI, the delete of file (and, with a target, first the
// rename of file over target): AT_RESTART or NOT_ARRANGED.
int ArrangeInWininit(const char* file, const char* target)
{
    char shortFile[MAX_PATH], shortTarget[MAX_PATH];
    if (!ShortPath(file, shortFile) || (target && !ShortPath(target, shortTarget)))
        return kNotArranged;
    char lines[4 * MAX_PATH + 8];
    char* at = lines;
    if (target)
        AppendLine(&at, shortTarget, shortFile);
    AppendLine(&at, "NUL", shortFile);
    *at++ = '\0';
    return AddWininitRenames(lines, static_cast<size_t>(at - lines)) ? kAtRestart : kNotArranged;
}
#endif

// Arranges the delete of the held file path at the next restart.
template <typename Char>
int ArrangeDelete(const KernelEntries& kernel, const Char* path)
{
#ifndef _WIN64
    if constexpr (sizeof(Char) == 1) {
        if (IsWindows95Family())
            return ArrangeInWininit(path, nullptr);
    }
#endif
    const auto move = FileMove(kernel, Char{});
    if (!move)
        return kUnavailable;
    return move(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? kAtRestart : kNotArranged;
}

// Arranges the rename of copy over the held target at the next restart, and
// then the delete of copy; the list as it was when either fails.
template <typename Char>
int ArrangeReplace(const KernelEntries& kernel, const Char* copy, const Char* target)
{
#ifndef _WIN64
    if constexpr (sizeof(Char) == 1) {
        if (IsWindows95Family())
            return ArrangeInWininit(copy, target);
    }
#endif
    const auto move = FileMove(kernel, Char{});
    if (!move)
        return kUnavailable;
    PendingListSnapshot before;
    if (!before.Take())
        return kNotArranged;
    if (!move(copy, target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
        return kNotArranged;
    if (move(copy, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return kAtRestart;
    before.Restore();
    return kNotArranged;
}

#ifndef _WIN64
// The Windows 95 family has no move that replaces: the target goes aside
// under a second unique name, the copy takes its name and the old file is
// deleted; when the copy cannot take the name, the old file gets it back.
int SwapIn(const KernelEntries& kernel, const char* copy, const char* target)
{
    NameBeside<char> aside;
    const DWORD made = aside.Make(target, false);
    if (made != NO_ERROR)
        return FailureOf(made);
    if (!::MoveFileA(target, aside.get())) {
        const DWORD error = ::GetLastError();
        return IsHeld(target, error) ? ArrangeReplace(kernel, copy, target) : FailureOf(error);
    }
    if (!::MoveFileA(copy, target)) {
        const DWORD error = ::GetLastError();
        ::MoveFileA(aside.get(), target);
        return FailureOf(error);
    }
    RemoveCopy(aside.get());
    return kDone;
}
#endif

// Puts copy in the place of target now (target may be missing), or, where
// another opener holds target, arranges it for the next restart.
template <typename Char>
int PutInPlace(const KernelEntries& kernel, const Char* copy, const Char* target, bool targetExists)
{
#ifndef _WIN64
    if constexpr (sizeof(Char) == 1) {
        if (IsWindows95Family()) {
            if (!targetExists)
                return ::MoveFileA(copy, target) ? kDone : FailureOf(::GetLastError());
            return SwapIn(kernel, copy, target);
        }
    }
#endif
    (void)targetExists;
    const auto move = FileMove(kernel, Char{});
    if (!move)
        return kUnavailable;
    if (move(copy, target, MOVEFILE_REPLACE_EXISTING))
        return kDone;
    const DWORD error = ::GetLastError();
    return IsHeld(target, error) ? ArrangeReplace(kernel, copy, target) : FailureOf(error);
}

// The attributes of the existing file path into *attributes, or the export's
// code for a path that names no file: NOT_FOUND, NOT_A_FILE, DENIED, FAILED.
template <typename Char>
int FileAttributes(const Char* path, DWORD* attributes)
{
    *attributes = GetFileAttributesT(path);
    if (*attributes == INVALID_FILE_ATTRIBUTES)
        return FailureOf(::GetLastError());
    return (*attributes & FILE_ATTRIBUTE_DIRECTORY) ? kNotAFile : kDone;
}

} // namespace

// in_use_file.h says what counts as a full path.
template <typename Char>
bool IsFullPath(const Char* path)
{
    if (!path || !path[0] || !path[1])
        return false;
    const bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    if (letter && path[1] == ':')
        return IsSeparator(path[2]);
    return IsSeparator(path[0]) && IsSeparator(path[1]);
}

// DeleteInUseFile's body, shared by the ANSI export and its W twin.
template <typename Char>
int DeleteInUse(const Char* path)
{
    if (!IsFullPath(path))
        return kBadPath;
    const SystemPath<Char> file(path);
    if (!file.get())
        return kFailed;
    DWORD attributes = 0;
    if (const int found = FileAttributes(file.get(), &attributes); found != kDone)
        return found;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return kReadOnly;
    if (DeleteFileT(file.get()))
        return kDone;
    const DWORD error = ::GetLastError();
    if (!IsHeld(file.get(), error))
        return FailureOf(error);
    KernelEntries kernel;
    ResolveKernelEntries(&kernel);
    return ArrangeDelete(kernel, file.get());
}

// ReplaceInUseFile's body, shared by the ANSI export and its W twin.
template <typename Char>
int ReplaceInUse(const Char* sourcePath, const Char* targetPath)
{
    if (!IsFullPath(sourcePath) || !IsFullPath(targetPath))
        return kBadPath;
    const SystemPath<Char> source(sourcePath), target(targetPath);
    if (!source.get() || !target.get())
        return kFailed;
    DWORD attributes = 0;
    if (const int found = FileAttributes(source.get(), &attributes); found != kDone)
        return found;
    const int targetFound = FileAttributes(target.get(), &attributes);
    // A missing target (in a folder that exists) is created.
    const bool targetExists = targetFound == kDone;
    if (!targetExists && (targetFound != kNotFound || ::GetLastError() != ERROR_FILE_NOT_FOUND))
        return targetFound;
    if (targetExists && (attributes & FILE_ATTRIBUTE_READONLY))
        return kReadOnly;
    NameBeside<Char> copy;
    const DWORD made = copy.Make(target.get(), true);
    if (made != NO_ERROR)
        return FailureOf(made);
    KernelEntries kernel;
    ResolveKernelEntries(&kernel);
    const int result = CopyFileT(source.get(), copy.get()) ? PutInPlace(kernel, copy.get(), target.get(), targetExists)
                                                           : FailureOf(::GetLastError());
    if (result < 0)
        RemoveCopy(copy.get());
    return result;
}

template bool IsFullPath(const char* path);
template bool IsFullPath(const wchar_t* path);
template int DeleteInUse(const char* path);
template int DeleteInUse(const wchar_t* path);
template int ReplaceInUse(const char* sourcePath, const char* targetPath);
template int ReplaceInUse(const wchar_t* sourcePath, const wchar_t* targetPath);

} // namespace setupsup

extern "C" int WINAPI DeleteInUseFile(const char* path) { return setupsup::DeleteInUse(path); }

// On the Windows 95 family a path without an exact ANSI form names no file.
extern "C" int WINAPI DeleteInUseFileW(const wchar_t* path)
{
    return setupsup::WideCall(
        setupsup::Refuse{setupsup::kNotFound}, [](auto p) { return setupsup::DeleteInUse(p); }, path);
}

extern "C" int WINAPI ReplaceInUseFile(const char* sourcePath, const char* targetPath)
{
    return setupsup::ReplaceInUse(sourcePath, targetPath);
}

// On the Windows 95 family a path without an exact ANSI form names no file
// (nor a folder the target could be created in).
extern "C" int WINAPI ReplaceInUseFileW(const wchar_t* sourcePath, const wchar_t* targetPath)
{
    return setupsup::WideCall(
        setupsup::Refuse{setupsup::kNotFound}, [](auto... paths) { return setupsup::ReplaceInUse(paths...); },
        sourcePath, targetPath);
}
