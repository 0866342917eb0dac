// InstallFont and UninstallFont: the whole job of putting a font on the
// system for good, for the machine or for the calling user, and of taking
// it away again.
//
// Installing copies the file into the scope's fonts folder (kept under its
// own name), adds its fonts to the session, writes the value that makes
// them permanent (named as GetFontName names the file: the data is the file
// name for the machine, the absolute path for the user, as the system's own
// font installation writes them) and tells running programs. Uninstalling
// takes the fonts out of the session, deletes the file (at the next restart
// where it is held) and removes every value of the scope whose data names
// it, whatever its name.
#include <windows.h>
#include <shlobj.h>

#include "fonts/font_name_file.h"
#include "frame/broadcast.h"
#include "frame/file_io.h"
#include "frame/invariants.h"
#include "frame/system_entries.h"
#include "frame/text.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "restart/in_use_file.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// Result codes, as setupsup.h names them.
constexpr int kDone = SETUPSUP_FONTFILE_DONE;
constexpr int kAtRestart = SETUPSUP_FONTFILE_AT_RESTART;
constexpr int kBadPath = SETUPSUP_FONTFILE_BAD_PATH;
constexpr int kBadScope = SETUPSUP_FONTFILE_BAD_SCOPE;
constexpr int kNotFound = SETUPSUP_FONTFILE_NOT_FOUND;
constexpr int kNotAFont = SETUPSUP_FONTFILE_NOT_A_FONT;
constexpr int kNoFolder = SETUPSUP_FONTFILE_NO_FOLDER;
constexpr int kDenied = SETUPSUP_FONTFILE_DENIED;
constexpr int kFileFailed = SETUPSUP_FONTFILE_FILE_FAILED;
constexpr int kNotLoaded = SETUPSUP_FONTFILE_NOT_LOADED;
constexpr int kRegistryFailed = SETUPSUP_FONTFILE_REGISTRY_FAILED;

constexpr DWORD kForMachine = SETUPSUP_FOR_MACHINE;
constexpr DWORD kForUser = SETUPSUP_FOR_USER;

// The key of the fonts values, under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
// (under WoW64 the machine's is one key for 32- and 64-bit programs).
constexpr TextLiteral kFontsKey = SETUPSUP_TEXT("Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts");
// The user's fonts folder, under the local application data folder (Windows
// 10 1809 and later load the fonts of the user's values at logon).
constexpr TextLiteral kUserFontsFolder = SETUPSUP_TEXT("\\Microsoft\\Windows\\Fonts");
// The machine's fonts folder, under the Windows folder, where the shell
// cannot tell it.
constexpr TextLiteral kMachineFontsFolder = SETUPSUP_TEXT("\\Fonts");

// A value name that GetFontName gives for most files; a longer one (a large
// collection) is read again into room of its own.
constexpr DWORD kNameRoom = 256;

// The longest path of an installed font: the system's font calls take no
// longer ones.
constexpr size_t kPathRoom = MAX_PATH;

// GetFontName's value name of a file, in room of its own.
template <typename Char>
class FontValueName {
public:
    // Reads the name of the font file path: kDone, kNotFound for a file that
    // cannot be opened, kNotAFont for one GetFontName names no font in.
    int Read(const Char* path)
    {
        int named = ReadFontName(path, local_, kNameRoom);
        if (named <= SETUPSUP_FONTNAME_ROOM_NEEDED) {
            const DWORD room = static_cast<DWORD>(-named);
            block_.reset(::LocalAlloc(LMEM_FIXED, room * sizeof(Char)));
            if (!block_)
                return kFileFailed;
            named = ReadFontName(path, static_cast<Char*>(block_.get()), room);
        }
        if (named == SETUPSUP_FONTNAME_CANNOT_OPEN)
            return kNotFound;
        return named == SETUPSUP_FONTNAME_OK ? kDone : kNotAFont;
    }
    const Char* get() const { return block_ ? static_cast<const Char*>(block_.get()) : local_; }

private:
    Char local_[kNameRoom] = {};
    unique_hlocal block_;
};

// The scope's fonts folder and the file of a font in it.
template <typename Char>
struct FontPlace {
    Char file[kPathRoom] = {};
    size_t nameAt = 0; // where the file's own name begins in file
};

// Appends the ASCII text to the path of length *length in room kPathRoom.
template <typename Char>
bool Append(Char (&path)[kPathRoom], size_t* length, const Char* text)
{
    const size_t more = TextLength(text);
    if (*length + more >= kPathRoom)
        return false;
    for (size_t i = 0; i <= more; ++i)
        path[*length + i] = text[i];
    *length += more;
    return true;
}

// Creates each missing folder of the user's fonts folder below the local
// application data folder, whose path ends at base.
template <typename Char>
bool CreateBelow(Char (&path)[kPathRoom], size_t base)
{
    for (size_t i = base + 1;; ++i) {
        const Char c = path[i];
        if (c != '\\' && c != 0)
            continue;
        path[i] = 0;
        const bool made = CreateDirectoryT(path) || ::GetLastError() == ERROR_ALREADY_EXISTS;
        path[i] = c;
        if (!made)
            return false;
        if (c == 0)
            return true;
    }
}

// The folder of the scope's fonts into path (its length into *length): the
// machine's Fonts folder (the shell's, else the Windows folder's), or the
// user's, created when missing. kDone or kNoFolder.
template <typename Char>
int FindFontsFolder(DWORD scope, Char (&path)[kPathRoom], size_t* length)
{
    ShellFolderEntries<Char> shell;
    const bool known = ResolveShellFolderEntries(&shell);
    if (scope == kForUser) {
        if (!known || FAILED(shell.getFolderPath(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                                 SHGFP_TYPE_CURRENT, path)))
            return kNoFolder;
        *length = TextLength(path);
        const size_t base = *length;
        return Append(path, length, kUserFontsFolder.Of<Char>()) && CreateBelow(path, base) ? kDone : kNoFolder;
    }
    if (known && SUCCEEDED(shell.getFolderPath(nullptr, CSIDL_FONTS, nullptr, SHGFP_TYPE_CURRENT, path))) {
        *length = TextLength(path);
        return kDone;
    }
    const UINT windows = GetWindowsDirectoryT(path, kPathRoom);
    if (windows == 0 || windows >= kPathRoom)
        return kNoFolder;
    *length = windows;
    return Append(path, length, kMachineFontsFolder.Of<Char>()) ? kDone : kNoFolder;
}

// The file name of path: what follows its last separator.
template <typename Char>
const Char* FileNameOf(const Char* path)
{
    const Char* name = path;
    for (const Char* at = path; *at; ++at) {
        if constexpr (sizeof(Char) == 1) {
            if (::IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*at)) && at[1]) {
                ++at;
                continue;
            }
        }
        if (*at == '\\' || *at == '/')
            name = at + 1;
    }
    return name;
}

// Where the font file path goes in the scope's fonts folder: kDone,
// kNoFolder, or kBadPath for a file name that does not fit there.
template <typename Char>
int PlaceOf(const Char* path, DWORD scope, FontPlace<Char>* place)
{
    size_t length = 0;
    if (const int found = FindFontsFolder(scope, place->file, &length); found != kDone)
        return found;
    const Char separator[] = {'\\', 0};
    place->nameAt = length + 1;
    const Char* name = FileNameOf(path);
    return name[0] && Append(place->file, &length, separator) && Append(place->file, &length, name) ? kDone : kBadPath;
}

// Opens (or creates) the scope's fonts key with access, in the 64-bit view
// for a 32-bit caller under WoW64: on Windows the key is one for 32- and
// 64-bit programs, and Wine keeps a 32-bit copy its font loading does not
// read. The system's result.
LONG OpenFontsKey(DWORD scope, REGSAM access, unique_hkey* key)
{
    REGSAM view = 0;
#ifndef _WIN64
    KernelEntries kernel;
    BOOL wow64 = FALSE;
    if (ResolveKernelEntries(&kernel) && kernel.isWow64Process &&
        kernel.isWow64Process(::GetCurrentProcess(), &wow64) && wow64)
        view = KEY_WOW64_64KEY;
#endif
    HKEY root = scope == kForUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    return RegCreateKeyExT(root, kFontsKey.Of<char>(), access | view, key->put());
}

// The export's code for a registry refusal.
int RegistryFailure(LONG error) { return error == ERROR_ACCESS_DENIED ? kDenied : kRegistryFailed; }

// The export's code for a failed copy or delete (a SETUPSUP_INUSE_* code).
int FileFailure(int inUse) { return inUse == SETUPSUP_INUSE_DENIED ? kDenied : kFileFailed; }

// The data of the font's value: the file name for the machine, the absolute
// path for the user.
template <typename Char>
const Char* ValueDataOf(const FontPlace<Char>& place, DWORD scope)
{
    return scope == kForUser ? place.file : place.file + place.nameAt;
}

// True when path and the installed file are one file (the caller put the
// font into the fonts folder itself).
template <typename Char>
bool IsInstalledFile(const Char* path, const Char* installed)
{
    unique_hfile file(CreateFileT(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, 0));
    return file && NamesHeldFile(file.get(), installed);
}

// Copies the font file path to the installed file (unless it is that file):
// kDone, kAtRestart where the installed one is held, or a failure. An
// earlier version's fonts leave the session first, so that the system lets
// go of its file and the session counts the file's fonts once; they come
// back where the copy fails.
template <typename Char>
int CopyIn(const Char* path, const Char* installed, bool existed)
{
    if (existed) {
        RemoveFontResourceT(installed);
        if (IsInstalledFile(path, installed))
            return kDone;
    }
    const int copied = ReplaceInUse(path, installed);
    if (copied == SETUPSUP_INUSE_AT_RESTART)
        return kAtRestart;
    if (copied == SETUPSUP_INUSE_DONE)
        return kDone;
    if (existed)
        AddFontResourceT(installed);
    return FileFailure(copied);
}

// True when the REG_SZ data (bytes long, not necessarily NUL-ended) names
// the installed file: its file name or its whole path, in any case.
template <typename Char>
bool NamesFile(const Char* data, DWORD bytes, const FontPlace<Char>& place)
{
    const size_t length = bytes / sizeof(Char);
    const auto equals = [&](const Char* text) {
        const size_t textLength = TextLength(text);
        size_t dataLength = length;
        while (dataLength > 0 && data[dataLength - 1] == 0)
            --dataLength;
        return dataLength == textLength &&
               CompareStringT(data, static_cast<int>(dataLength), text, static_cast<int>(textLength)) == CSTR_EQUAL;
    };
    return equals(place.file) || equals(place.file + place.nameAt);
}

// The most walks of the fonts key one removal makes: another program that
// adds or removes a value meanwhile moves the values a walk has still to
// see, so a walk that removed any is followed by another.
constexpr int kRemovalWalks = 4;

// Deletes the values of key whose data names the installed file, except the
// value named keep (null: none), walking from the last value so that a
// deletion moves none still to be seen; the buffers hold the key's longest
// name and data. True when any was deleted.
template <typename Char>
bool RemoveValuesOnce(HKEY key, const FontPlace<Char>& place, const Char* keep)
{
    DWORD count = 0, longestName = 0, longestData = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                           nullptr) != ERROR_SUCCESS ||
        RegQueryValueMaximaT<Char>(key, &longestName, &longestData) != ERROR_SUCCESS)
        return false;
    const DWORD nameRoom = longestName + 1, dataRoom = longestData + sizeof(Char);
    unique_hlocal names(::LocalAlloc(LMEM_FIXED, nameRoom * sizeof(Char))), datas(::LocalAlloc(LMEM_FIXED, dataRoom));
    if (!names || !datas)
        return false;
    Char* valueName = static_cast<Char*>(names.get());
    BYTE* data = static_cast<BYTE*>(datas.get());
    bool removed = false;
    for (DWORD index = count; index-- > 0;) {
        DWORD nameLength = nameRoom, type = 0, bytes = dataRoom;
        if (RegEnumValueT(key, index, valueName, &nameLength, &type, data, &bytes) != ERROR_SUCCESS)
            continue;
        const bool kept = keep && CompareStringT(valueName, -1, keep, -1) == CSTR_EQUAL;
        if (type == REG_SZ && !kept && NamesFile(reinterpret_cast<const Char*>(data), bytes, place))
            removed |= RegDeleteValueT(key, valueName) == ERROR_SUCCESS;
    }
    return removed;
}

// Deletes every value of key whose data names the installed file (but
// keep), however the key changes meanwhile.
template <typename Char>
void RemoveValuesNaming(HKEY key, const FontPlace<Char>& place, const Char* keep)
{
    for (int walk = 0; walk < kRemovalWalks && RemoveValuesOnce(key, place, keep); ++walk) {}
}

// InstallFont's body, shared by the ANSI export and its W twin. Everything
// that can refuse without changing anything (the name, the folder, the key)
// is asked first; a later failure takes back what this call did.
template <typename Char>
int Install(const Char* path, DWORD scope)
{
    if (!IsFullPath(path))
        return kBadPath;
    if (scope != kForMachine && scope != kForUser)
        return kBadScope;
    FontValueName<Char> name;
    if (const int named = name.Read(path); named != kDone)
        return named;
    FontPlace<Char> place;
    if (const int placed = PlaceOf(path, scope, &place); placed != kDone)
        return placed;
    unique_hkey key;
    if (const LONG opened = OpenFontsKey(scope, KEY_SET_VALUE, &key); opened != ERROR_SUCCESS)
        return RegistryFailure(opened);
    const bool existed = GetFileAttributesT(place.file) != INVALID_FILE_ATTRIBUTES;
    const int copied = CopyIn(path, place.file, existed);
    if (copied < 0)
        return copied;
    if (AddFontResourceT(place.file) < 1) {
        if (!existed)
            DeleteFileT(place.file);
        return kNotLoaded;
    }
    const Char* data = ValueDataOf(place, scope);
    const DWORD bytes = static_cast<DWORD>((TextLength(data) + 1) * sizeof(Char));
    if (const LONG written = RegSetValueExT(key.get(), name.get(), REG_SZ, reinterpret_cast<const BYTE*>(data), bytes);
        written != ERROR_SUCCESS) {
        RemoveFontResourceT(place.file);
        if (!existed)
            DeleteFileT(place.file);
        return RegistryFailure(written);
    }
    // An earlier version's value of another name would load the file twice.
    RemoveValuesNaming(key.get(), place, name.get());
    BroadcastToTopLevelWindows(WM_FONTCHANGE, 0, 0);
    return copied;
}

// UninstallFont's body, shared by the ANSI export and its W twin. The file
// goes before the values: a file that can neither be deleted nor arranged
// for deletion gets its fonts back and keeps its values.
template <typename Char>
int Uninstall(const Char* path, DWORD scope)
{
    if (!IsFullPath(path))
        return kBadPath;
    if (scope != kForMachine && scope != kForUser)
        return kBadScope;
    FontPlace<Char> place;
    if (const int placed = PlaceOf(path, scope, &place); placed != kDone)
        return placed;
    unique_hkey key;
    if (const LONG opened = OpenFontsKey(scope, KEY_QUERY_VALUE | KEY_SET_VALUE, &key); opened != ERROR_SUCCESS)
        return RegistryFailure(opened);
    int result = kDone;
    if (GetFileAttributesT(place.file) != INVALID_FILE_ATTRIBUTES) {
        const BOOL removed = RemoveFontResourceT(place.file);
        const int deleted = DeleteInUse(place.file);
        if (deleted < 0 && deleted != SETUPSUP_INUSE_NOT_FOUND) {
            if (removed)
                AddFontResourceT(place.file);
            return FileFailure(deleted);
        }
        result = deleted == SETUPSUP_INUSE_AT_RESTART ? kAtRestart : kDone;
    }
    RemoveValuesNaming<Char>(key.get(), place, nullptr);
    BroadcastToTopLevelWindows(WM_FONTCHANGE, 0, 0);
    return result;
}

} // namespace
} // namespace setupsup

extern "C" int WINAPI InstallFont(const char* path, DWORD scope) { return setupsup::Install(path, scope); }

// On the Windows 95 family a path without an exact ANSI form names no file.
extern "C" int WINAPI InstallFontW(const wchar_t* path, DWORD scope)
{
    return setupsup::WideCall(
        setupsup::Refuse{setupsup::kNotFound}, [scope](auto p) { return setupsup::Install(p, scope); }, path);
}

extern "C" int WINAPI UninstallFont(const char* path, DWORD scope) { return setupsup::Uninstall(path, scope); }

// On the Windows 95 family a path without an exact ANSI form names no file.
extern "C" int WINAPI UninstallFontW(const wchar_t* path, DWORD scope)
{
    return setupsup::WideCall(
        setupsup::Refuse{setupsup::kNotFound}, [scope](auto p) { return setupsup::Uninstall(p, scope); }, path);
}
