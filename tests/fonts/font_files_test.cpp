// InstallFont and UninstallFont with real fonts (renamed DejaVu copies made
// at build time), for the machine and for the user, through the ANSI
// exports and their W twins: the file in the scope's fonts folder, the value
// under the scope's Fonts key, and the faces enumerated in this process.
//
// Wine loads the machine's fonts folder and HKLM values at a process's
// start, but not a user's HKCU values (Windows 10 1809 and later do, at
// logon): the per-user checks read the folder and the key, and the face is
// checked in the session, where AddFontResource put it.
#include "tests/common/export_forms.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>

#include "setupsup.h"

using namespace setupsup_test;

namespace {

constexpr char kFontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
constexpr char kSingleValue[] = "Setupsup Single (TrueType)";
constexpr char kTrioValue[] = "Setupsup Trio A & Setupsup Trio B & Setupsup Trio C (TrueType)";

template <typename C>
struct Form : ExportForm<C> {
    int Install(const std::string& path, DWORD scope) const
    {
        return this->template Get<int(WINAPI*)(const C*, DWORD)>("InstallFont")(this->Of(path).c_str(), scope);
    }
    int Uninstall(const std::string& path, DWORD scope) const
    {
        return this->template Get<int(WINAPI*)(const C*, DWORD)>("UninstallFont")(this->Of(path).c_str(), scope);
    }
};

// The two scopes, with where each keeps its fonts.
struct Scope {
    DWORD scope;
    const char* what;
    HKEY root;
    std::string folder;
};

std::string WindowsFolder()
{
    char path[MAX_PATH];
    ::GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

std::string LocalAppData()
{
    char path[MAX_PATH] = {};
    ::GetEnvironmentVariableA("LOCALAPPDATA", path, MAX_PATH);
    return path;
}

std::vector<Scope> Scopes()
{
    return {{SETUPSUP_FOR_MACHINE, "machine", HKEY_LOCAL_MACHINE, WindowsFolder() + "\\Fonts"},
            {SETUPSUP_FOR_USER, "user", HKEY_CURRENT_USER, LocalAppData() + "\\Microsoft\\Windows\\Fonts"}};
}

// The value's data under the scope's Fonts key, "" when there is none. A
// 32-bit test reads the 64-bit view, where the fonts of the system are.
std::string FontValue(const Scope& scope, const char* name)
{
    HKEY key = nullptr;
    const REGSAM view = RunsUnderWow64() ? KEY_WOW64_64KEY : 0;
    if (::RegOpenKeyExA(scope.root, kFontsKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return "";
    char data[MAX_PATH * 2] = {};
    DWORD bytes = sizeof data - 1, type = 0;
    const LONG read = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    ::RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? data : "";
}

int CALLBACK CountFace(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    return 1;
}

// Whether the session knows the face, as a program would ask.
bool FaceKnown(const char* face)
{
    HDC dc = ::CreateCompatibleDC(nullptr);
    LOGFONTA font = {};
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    int count = 0;
    ::EnumFontFamiliesExA(dc, &font, CountFace, reinterpret_cast<LPARAM>(&count), 0);
    ::DeleteDC(dc);
    return count > 0;
}

// The test's own copy of a built test font, under its name.
std::string Source(const ScratchDir& dir, const std::string& font)
{
    const std::string path = dir.File(font);
    EXPECT_TRUE(::CopyFileA(ProgramFile(font).c_str(), path.c_str(), FALSE)) << font;
    return path;
}

// The restart's list, put back after a test that arranges a delete.
class PendingListKept {
public:
    PendingListKept() { had_ = Read(&list_); }
    ~PendingListKept()
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        if (had_)
            ::RegSetValueExA(key, kValue, 0, REG_MULTI_SZ, list_.data(), static_cast<DWORD>(list_.size()));
        else
            ::RegDeleteValueA(key, kValue);
        ::RegCloseKey(key);
    }
    // Whether the list names the file (its name anywhere in an entry).
    static bool Names(const std::string& name)
    {
        std::vector<BYTE> list;
        if (!Read(&list))
            return false;
        const std::wstring text(reinterpret_cast<const wchar_t*>(list.data()), list.size() / sizeof(wchar_t));
        return text.find(CodePageToWide(CP_ACP, name)) != std::wstring::npos;
    }

private:
    static bool Read(std::vector<BYTE>* list)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return false;
        DWORD bytes = 0;
        bool found =
            ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS;
        list->resize(bytes);
        found = found && ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, list->data(),
                                            &bytes) == ERROR_SUCCESS;
        ::RegCloseKey(key);
        return found;
    }
    static constexpr char kManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static constexpr char kValue[] = "PendingFileRenameOperations";
    bool had_ = false;
    std::vector<BYTE> list_;
};

// Deletes the copies beside the installed files that waited for a restart
// the test took back ("~ss*.tmp").
void RemoveWaitingCopies(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\~ss*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
    while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

// Every scope through both forms.
template <typename Check>
void ForEachScopeAndForm(Check check)
{
    for (const Scope& scope : Scopes()) {
        SCOPED_TRACE(scope.what);
        ForEachForm<Form>([&](auto form) { check(scope, form); });
    }
}

} // namespace

// Installed: the file in the scope's folder, the value named after the font
// (data: the file name for the machine, the full path for the user), the
// face known to the session; installed again over itself; then uninstalled,
// all three gone, and uninstalled again without complaint.
TEST(InstallFont, PutsTheFontInPlaceAndUninstallTakesItAllBack)
{
    ForEachScopeAndForm([](const Scope& scope, auto form) {
        ScratchDir dir;
        const std::string source = Source(dir, "setupsup-single.ttf");
        const std::string installed = scope.folder + "\\setupsup-single.ttf";
        const std::string data = scope.scope == SETUPSUP_FOR_USER ? installed : "setupsup-single.ttf";
        ASSERT_EQ(form.Install(source, scope.scope), SETUPSUP_FONTFILE_DONE);
        EXPECT_EQ(ReadFileBytes(installed), ReadFileBytes(source)) << "copied into " << scope.folder;
        EXPECT_EQ(FontValue(scope, kSingleValue), data);
        EXPECT_TRUE(FaceKnown("Setupsup Single")) << "added to the session";

        EXPECT_EQ(form.Install(source, scope.scope), SETUPSUP_FONTFILE_DONE) << "an update over itself";
        EXPECT_EQ(form.Install(installed, scope.scope), SETUPSUP_FONTFILE_DONE) << "the file already in place";
        EXPECT_TRUE(FileExists(installed));

        EXPECT_EQ(form.Uninstall(source, scope.scope), SETUPSUP_FONTFILE_DONE);
        EXPECT_FALSE(FileExists(installed));
        EXPECT_EQ(FontValue(scope, kSingleValue), "");
        EXPECT_FALSE(FaceKnown("Setupsup Single")) << "the session counted the file's fonts once";
        EXPECT_EQ(form.Uninstall(source, scope.scope), SETUPSUP_FONTFILE_DONE) << "nothing left to take away";
    });
}

// A collection is one value, named after all its fonts; each face is known.
TEST(InstallFont, NamesACollectionAfterAllItsFonts)
{
    ForEachScopeAndForm([](const Scope& scope, auto form) {
        ScratchDir dir;
        const std::string source = Source(dir, "setupsup-trio.ttc");
        ASSERT_EQ(form.Install(source, scope.scope), SETUPSUP_FONTFILE_DONE);
        EXPECT_NE(FontValue(scope, kTrioValue), "");
        for (const char* face : {"Setupsup Trio A", "Setupsup Trio B", "Setupsup Trio C"})
            EXPECT_TRUE(FaceKnown(face)) << face;
        EXPECT_EQ(form.Uninstall(source, scope.scope), SETUPSUP_FONTFILE_DONE);
        EXPECT_EQ(FontValue(scope, kTrioValue), "");
        EXPECT_FALSE(FaceKnown("Setupsup Trio B"));
    });
}

// A value written by another installer under another name, whose data names
// the file, goes too: the uninstall finds values by their data.
TEST(UninstallFont, RemovesEveryValueThatNamesTheFile)
{
    ForEachScopeAndForm([](const Scope& scope, auto form) {
        ScratchDir dir;
        const std::string source = Source(dir, "setupsup-single.ttf");
        ASSERT_EQ(form.Install(source, scope.scope), SETUPSUP_FONTFILE_DONE);
        const std::string data = FontValue(scope, kSingleValue);
        const REGSAM view = RunsUnderWow64() ? KEY_WOW64_64KEY : 0;
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExA(scope.root, kFontsKey, 0, KEY_SET_VALUE | view, &key), ERROR_SUCCESS);
        std::string upper = data;
        for (char& c : upper)
            c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
        ::RegSetValueExA(key, "Hand Typed (TrueType)", 0, REG_SZ, reinterpret_cast<const BYTE*>(upper.c_str()),
                         static_cast<DWORD>(upper.size() + 1));
        ::RegSetValueExA(key, "Setupsup Unrelated (TrueType)", 0, REG_SZ, reinterpret_cast<const BYTE*>("other.ttf"),
                         10);
        ::RegCloseKey(key);
        EXPECT_EQ(form.Uninstall(source, scope.scope), SETUPSUP_FONTFILE_DONE);
        EXPECT_EQ(FontValue(scope, "Hand Typed (TrueType)"), "") << "its data names the file, in another case";
        EXPECT_EQ(FontValue(scope, "Setupsup Unrelated (TrueType)"), "other.ttf") << "another file's value stays";
        ASSERT_EQ(::RegOpenKeyExA(scope.root, kFontsKey, 0, KEY_SET_VALUE | view, &key), ERROR_SUCCESS);
        ::RegDeleteValueA(key, "Setupsup Unrelated (TrueType)");
        ::RegCloseKey(key);
    });
}

// A file another opener holds: the uninstall removes the value and the face
// now and arranges the file's delete for the next restart (1); an install
// over a held earlier version arranges the copy for the restart (1).
TEST(UninstallFont, DeletesAHeldFileAtTheNextRestart)
{
    ForEachScopeAndForm([](const Scope& scope, auto form) {
        PendingListKept list;
        ScratchDir dir;
        const std::string source = Source(dir, "setupsup-single.ttf");
        const std::string installed = scope.folder + "\\setupsup-single.ttf";
        ASSERT_EQ(form.Install(source, scope.scope), SETUPSUP_FONTFILE_DONE);
        HANDLE held = ::CreateFileA(installed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(form.Install(source, scope.scope), SETUPSUP_FONTFILE_AT_RESTART) << "the copy waits";
        EXPECT_EQ(form.Uninstall(source, scope.scope), SETUPSUP_FONTFILE_AT_RESTART);
        EXPECT_EQ(FontValue(scope, kSingleValue), "");
        EXPECT_TRUE(PendingListKept::Names("setupsup-single.ttf")) << "the delete waits for the restart";
        ::CloseHandle(held);
        ::DeleteFileA(installed.c_str());
        RemoveWaitingCopies(scope.folder);
    });
}

// Refusals change nothing: no file in the folder, no value.
TEST(InstallFont, RefusesWhatItCannotInstall)
{
    ForEachScopeAndForm([](const Scope& scope, auto form) {
        ScratchDir dir;
        const std::string text = MakeFile(dir, "setupsup-text.ttf", {'n', 'o', 't', ' ', 'a', ' ', 'f', 'o', 'n', 't'});
        std::vector<uint8_t> cut = ReadFileBytes(ProgramFile("setupsup-single.ttf"));
        cut.resize(200);
        const std::string damaged = MakeFile(dir, "setupsup-damaged.ttf", cut);
        EXPECT_EQ(form.Install(text, scope.scope), SETUPSUP_FONTFILE_NOT_A_FONT);
        EXPECT_EQ(form.Install(damaged, scope.scope), SETUPSUP_FONTFILE_NOT_A_FONT) << "its tables end past the file";
        EXPECT_EQ(form.Install(dir.File("missing.ttf"), scope.scope), SETUPSUP_FONTFILE_NOT_FOUND);
        EXPECT_EQ(form.Install("setupsup-single.ttf", scope.scope), SETUPSUP_FONTFILE_BAD_PATH) << "relative";
        EXPECT_EQ(form.Install("", scope.scope), SETUPSUP_FONTFILE_BAD_PATH);
        EXPECT_EQ(form.Uninstall("", scope.scope), SETUPSUP_FONTFILE_BAD_PATH);
        for (const char* name : {"setupsup-text.ttf", "setupsup-damaged.ttf", "missing.ttf"})
            EXPECT_FALSE(FileExists(scope.folder + "\\" + name)) << name;
        EXPECT_EQ(FontValue(scope, kSingleValue), "");
    });
    ForEachForm<Form>([](auto form) {
        ScratchDir dir;
        const std::string source = Source(dir, "setupsup-single.ttf");
        EXPECT_EQ(form.Install(source, 2), SETUPSUP_FONTFILE_BAD_SCOPE);
        EXPECT_EQ(form.Uninstall(source, 2), SETUPSUP_FONTFILE_BAD_SCOPE);
    });
}
