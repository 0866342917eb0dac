// Registry maintenance against the Wine prefix's real registry: CopyKey and
// UnregisterZORBApps. Every test works in its own key under
// Software\SetupsupTest and deletes it afterwards. Wine enumerates in
// alphabetical order; no check depends on the order of enumeration.
#define _WIN32_WINNT 0x0600 // RegDeleteTreeA
#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <cstring>
#include <string>
#include <vector>

using namespace setupsup_test;

namespace {

using CopyKeyFn = int(WINAPI*)(HKEY, const char*, HKEY, const char*);
using UnregisterFn = int(WINAPI*)(const char*);

CopyKeyFn CopyKey() { return Export<CopyKeyFn>("CopyKey"); }
UnregisterFn UnregisterZORBApps() { return Export<UnregisterFn>("UnregisterZORBApps"); }

using Bytes = std::vector<BYTE>;

// A uniquely named key under root\Software\SetupsupTest, deleted with its tree.
class TestKey {
public:
    explicit TestKey(HKEY root, const std::string& tag = "") : root_(root)
    {
        static int serial = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = "Software\\SetupsupTest\\" + std::string(info->name()) + tag + "-" +
                std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial);
        ::RegDeleteTreeA(root_, path_.c_str());
    }
    ~TestKey() { ::RegDeleteTreeA(root_, path_.c_str()); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& sub) const { return path_ + "\\" + sub; }

private:
    HKEY root_;
    std::string path_;
};

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type, const Bytes& data)
{
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0)
        << "cannot create " << path;
    ASSERT_EQ(::RegSetValueExA(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())), 0);
    ::RegCloseKey(key);
}

Bytes Sz(const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }

void SetSz(HKEY root, const std::string& path, const std::string& name, const std::string& text)
{
    SetValue(root, path, name, REG_SZ, Sz(text));
}

void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD v)
{
    SetValue(root, path, name, REG_DWORD, Bytes(reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + 4));
}

bool KeyExists(HKEY root, const std::string& path, REGSAM view = 0)
{
    HKEY key;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != 0)
        return false;
    ::RegCloseKey(key);
    return true;
}

// Whether HKLM\path exists in one registry view (KEY_WOW64_32KEY or _64KEY).
bool KeyExistsInView(const std::string& path, REGSAM view) { return KeyExists(HKEY_LOCAL_MACHINE, path, view); }

struct Value {
    LONG rc = -1;
    DWORD type = 0;
    Bytes data;
};

Value GetValue(HKEY root, const std::string& path, const std::string& name)
{
    Value v;
    HKEY key;
    if ((v.rc = ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key)) != 0)
        return v;
    DWORD length = 0;
    v.rc = ::RegQueryValueExA(key, name.c_str(), nullptr, &v.type, nullptr, &length);
    if (v.rc == 0) {
        v.data.resize(length);
        v.rc = ::RegQueryValueExA(key, name.c_str(), nullptr, &v.type, v.data.data(), &length);
        v.data.resize(length);
    }
    ::RegCloseKey(key);
    return v;
}

// What a copied value must hold: the bytes before the first NUL, then a NUL.
Bytes AsCopied(const Bytes& source)
{
    Bytes out;
    for (BYTE b : source) {
        if (b == 0)
            break;
        out.push_back(b);
    }
    out.push_back(0);
    return out;
}

std::vector<std::string> Names(HKEY key, bool values)
{
    DWORD subkeys = 0, maxSubkey = 0, count = 0, maxName = 0;
    std::vector<std::string> names;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &count, &maxName, nullptr,
                           nullptr, nullptr) != 0)
        return names;
    std::vector<char> name((values ? maxName : maxSubkey) * 2 + 2);
    for (DWORD i = 0; i < (values ? count : subkeys); ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        LONG rc = values ? ::RegEnumValueA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr)
                         : ::RegEnumKeyExA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == 0)
            names.emplace_back(name.data(), length);
    }
    return names;
}

// Checks, with the registry's own queries, that every value and key of the
// source tree is in the target tree under the conversion rule; returns the
// number of keys compared. exact: the target holds nothing else.
int ExpectCopied(HKEY sourceRoot, const std::string& source, HKEY targetRoot, const std::string& target,
                 bool exact = true)
{
    HKEY s, t;
    EXPECT_EQ(::RegOpenKeyExA(sourceRoot, source.c_str(), 0, KEY_READ, &s), 0) << source;
    EXPECT_EQ(::RegOpenKeyExA(targetRoot, target.c_str(), 0, KEY_READ, &t), 0) << "missing copy " << target;
    if (::testing::Test::HasFailure())
        return 0;
    auto values = Names(s, true), subkeys = Names(s, false);
    if (exact) {
        EXPECT_EQ(Names(t, true).size(), values.size()) << "values of " << target;
        EXPECT_EQ(Names(t, false).size(), subkeys.size()) << "subkeys of " << target;
    }
    ::RegCloseKey(s);
    ::RegCloseKey(t);
    for (const auto& name : values) {
        Value from = GetValue(sourceRoot, source, name), to = GetValue(targetRoot, target, name);
        EXPECT_EQ(to.rc, 0) << target << " lacks value " << name.substr(0, 40);
        EXPECT_EQ(to.type, static_cast<DWORD>(REG_SZ)) << name.substr(0, 40);
        EXPECT_EQ(to.data, AsCopied(from.data)) << "value " << name.substr(0, 40) << " in " << target;
    }
    int keys = 1;
    for (const auto& name : subkeys)
        keys += ExpectCopied(sourceRoot, source + "\\" + name, targetRoot, target + "\\" + name, exact);
    return keys;
}

} // namespace

TEST(CopyKey, DeepTreeIsReproducedKeyForKeyAndValueForValue)
{
    TestKey src(HKEY_CURRENT_USER, "Src"), dst(HKEY_CURRENT_USER, "Dst");
    // Four levels below the top, three keys per level on one branch, values everywhere.
    std::string path = src.path();
    for (int level = 0; level < 4; ++level) {
        for (int k = 0; k < 3; ++k) {
            std::string sub = path + "\\K" + std::to_string(level) + char('a' + k);
            for (int v = 0; v < 5; ++v)
                SetSz(HKEY_CURRENT_USER, sub, "V" + std::to_string(v),
                      "text " + sub.substr(path.size()) + std::to_string(v));
        }
        SetSz(HKEY_CURRENT_USER, path, "", "default of level " + std::to_string(level));
        path += "\\K" + std::to_string(level) + "b";
    }
    ASSERT_EQ(CopyKey()(HKEY_CURRENT_USER, src.path().c_str(), HKEY_CURRENT_USER, dst.path().c_str()), 0);
    EXPECT_EQ(ExpectCopied(HKEY_CURRENT_USER, src.path(), HKEY_CURRENT_USER, dst.path()), 1 + 4 * 3)
        << "every key of the tree copied";
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, dst / "K0b\\K1b\\K2b\\K3c", "V4").data, Sz("text \\K3c4"));
}

TEST(CopyKey, OntoExistingTargetOverwritesSameNamesAndKeepsOthers)
{
    TestKey src(HKEY_CURRENT_USER, "Src"), dst(HKEY_CURRENT_USER, "Dst");
    SetSz(HKEY_CURRENT_USER, src.path(), "Shared", "new");
    SetSz(HKEY_CURRENT_USER, src / "Sub", "Shared", "new sub");
    SetDword(HKEY_CURRENT_USER, dst.path(), "Shared", 7);
    SetSz(HKEY_CURRENT_USER, dst.path(), "Own", "kept");
    SetSz(HKEY_CURRENT_USER, dst / "Sub", "Own", "kept sub");
    SetSz(HKEY_CURRENT_USER, dst / "Other", "Own", "kept other");

    ASSERT_EQ(CopyKey()(HKEY_CURRENT_USER, src.path().c_str(), HKEY_CURRENT_USER, dst.path().c_str()), 0);
    ExpectCopied(HKEY_CURRENT_USER, src.path(), HKEY_CURRENT_USER, dst.path(), false);
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, dst.path(), "Shared").data, Sz("new")) << "same name overwritten";
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, dst.path(), "Own").data, Sz("kept"));
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, dst / "Sub", "Own").data, Sz("kept sub"));
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, dst / "Other", "Own").data, Sz("kept other"));
}

// HKLM\Software is the registry view of the caller's own architecture,
// where the installer's other entries go too: a 32-bit installer's is, under
// WoW64, the WOW6432Node branch; a 64-bit installer's the 64-bit view. A
// 32-bit system has one view.
TEST(CopyKey, CopiesFromTheUserHiveToTheMachineHiveInTheCallersView)
{
    TestKey src(HKEY_CURRENT_USER, "Src"), dst(HKEY_LOCAL_MACHINE, "Dst");
    SetSz(HKEY_CURRENT_USER, src.path(), "Top", "top");
    SetSz(HKEY_CURRENT_USER, src / "A\\B", "Deep", "deep");
    ASSERT_EQ(CopyKey()(HKEY_CURRENT_USER, src.path().c_str(), HKEY_LOCAL_MACHINE, dst.path().c_str()), 0);
    EXPECT_EQ(ExpectCopied(HKEY_CURRENT_USER, src.path(), HKEY_LOCAL_MACHINE, dst.path()), 3);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, dst.path())) << "nothing written to the source's root";

    const bool wow64 = RunsUnderWow64(), x64 = sizeof(void*) == 8;
    const REGSAM own = x64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY, other = x64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    std::string node = "Software\\WOW6432Node" + dst.path().substr(std::strlen("Software"));
    EXPECT_TRUE(KeyExistsInView(dst.path(), own) && KeyExistsInView(dst / "A\\B", own));
    EXPECT_EQ(KeyExistsInView(dst.path(), other), !wow64 && !x64)
        << (wow64 || x64 ? "the other view's Software is another key, which the copy must not reach"
                         : "a 32-bit system has one view and ignores the view flags");
    EXPECT_EQ(KeyExistsInView(node, KEY_WOW64_64KEY), wow64)
        << (wow64 ? "the 64-bit view shows the 32-bit copy under " + node
                  : "only a 32-bit caller on a 64-bit system writes under WOW6432Node");
}

TEST(CopyKey, EveryValueArrivesAsTheStringBeforeItsFirstNul)
{
    TestKey src(HKEY_CURRENT_USER, "Src"), dst(HKEY_CURRENT_USER, "Dst");
    HKEY U = HKEY_CURRENT_USER;
    SetDword(U, src.path(), "One", 1);
    SetDword(U, src.path(), "Zero", 0);
    SetValue(U, src.path(), "Empty", REG_BINARY, {});
    SetValue(U, src.path(), "Multi", REG_MULTI_SZ, {'a', 'b', 0, 'c', 'd', 0, 0});
    SetValue(U, src.path(), "Expand", REG_EXPAND_SZ, Sz("%WINDIR%\\x"));
    SetValue(U, src.path(), "NoNul", REG_BINARY, {'x', 'y', 'z'});
    SetDword(U, src.path(), "AllSet", 0x41424344);

    ASSERT_EQ(CopyKey()(U, src.path().c_str(), U, dst.path().c_str()), 0);
    ExpectCopied(U, src.path(), U, dst.path());
    EXPECT_EQ(GetValue(U, dst.path(), "One").data, (Bytes{1, 0})) << "DWORD 1: the byte 0x01 and a NUL";
    EXPECT_EQ(GetValue(U, dst.path(), "Zero").data, Sz("")) << "DWORD 0: empty string";
    EXPECT_EQ(GetValue(U, dst.path(), "Empty").data, Sz("")) << "no data: empty string";
    EXPECT_EQ(GetValue(U, dst.path(), "Multi").data, Sz("ab")) << "first string only";
    Value expand = GetValue(U, dst.path(), "Expand");
    EXPECT_EQ(expand.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(expand.data, Sz("%WINDIR%\\x")) << "not expanded";
    EXPECT_EQ(GetValue(U, dst.path(), "NoNul").data, Sz("xyz")) << "data without NUL whole, NUL appended";
    EXPECT_EQ(GetValue(U, dst.path(), "AllSet").data, Sz("DCBA"));
}

TEST(CopyKey, LongNamesAndLargeDataAreCopiedWholeWithTheValuesAfterThem)
{
    TestKey src(HKEY_CURRENT_USER, "Src"), dst(HKEY_CURRENT_USER, "Dst");
    HKEY U = HKEY_CURRENT_USER;
    std::string large(9999, 'L'); // 10 000 bytes with its NUL
    std::string longName(300, 'N');
    SetSz(U, src.path(), "A before", "a");
    SetSz(U, src.path(), "Large", large);
    SetSz(U, src.path(), "M middle", "m");
    SetSz(U, src.path(), longName, "long name");
    SetValue(U, src.path(), "Binary", REG_BINARY, Bytes(5000, 'b'));
    SetSz(U, src.path(), "Z after", "z");
    SetSz(U, src / "Child", "C", "child after the large values");

    ASSERT_EQ(CopyKey()(U, src.path().c_str(), U, dst.path().c_str()), 0);
    EXPECT_EQ(ExpectCopied(U, src.path(), U, dst.path()), 2);
    EXPECT_EQ(GetValue(U, dst.path(), "Large").data.size(), 10000u);
    EXPECT_EQ(GetValue(U, dst.path(), longName).data, Sz("long name"));
    EXPECT_EQ(GetValue(U, dst.path(), "Binary").data, AsCopied(Bytes(5000, 'b')));
    EXPECT_EQ(GetValue(U, dst.path(), "Z after").data, Sz("z"));
}

TEST(CopyKey, MissingSourceGivesFileNotFoundAndCreatesNothing)
{
    TestKey src(HKEY_CURRENT_USER, "Src"), dst(HKEY_CURRENT_USER, "Dst");
    EXPECT_EQ(CopyKey()(HKEY_CURRENT_USER, src.path().c_str(), HKEY_CURRENT_USER, dst.path().c_str()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, dst.path()));
}

TEST(CopyKey, SourceWithoutSubkeysGivesZero)
{
    TestKey src(HKEY_CURRENT_USER, "Src"), dst(HKEY_CURRENT_USER, "Dst");
    SetSz(HKEY_CURRENT_USER, src.path(), "Only", "one");
    EXPECT_EQ(CopyKey()(HKEY_CURRENT_USER, src.path().c_str(), HKEY_CURRENT_USER, dst.path().c_str()), 0);
    EXPECT_EQ(ExpectCopied(HKEY_CURRENT_USER, src.path(), HKEY_CURRENT_USER, dst.path()), 1);
}

TEST(CopyKey, TargetInsideTheSourceIsNotCopiedIntoItself)
{
    TestKey src(HKEY_CURRENT_USER, "Src");
    HKEY U = HKEY_CURRENT_USER;
    SetSz(U, src.path(), "Top", "top");
    SetSz(U, src / "A\\B", "V", "v");
    std::string target = src / "A\\COPY"; // inside the tree, and spelt in another case below
    ASSERT_EQ(CopyKey()(U, src.path().c_str(), U, target.c_str()), 0);
    EXPECT_EQ(GetValue(U, target, "Top").data, Sz("top"));
    EXPECT_EQ(GetValue(U, target + "\\A\\B", "V").data, Sz("v"));
    EXPECT_TRUE(KeyExists(U, target + "\\A")) << "the copy of A";
    EXPECT_FALSE(KeyExists(U, target + "\\A\\Copy")) << "the target not walked as a source";
    HKEY copyOfA;
    ASSERT_EQ(::RegOpenKeyExA(U, (target + "\\A").c_str(), 0, KEY_READ, &copyOfA), 0);
    EXPECT_EQ(Names(copyOfA, false), std::vector<std::string>{"B"});
    ::RegCloseKey(copyOfA);

    // Onto itself: nothing to copy, nothing converted.
    SetDword(U, src / "A", "Number", 0);
    std::string self = src / "a";
    EXPECT_EQ(CopyKey()(U, (src / "A").c_str(), U, self.c_str()), 0);
    EXPECT_EQ(GetValue(U, src / "A", "Number").type, static_cast<DWORD>(REG_DWORD));
}

TEST(CopyKey, ChildWhosePathDoesNotFitIsSkippedWhole)
{
    TestKey src(HKEY_CURRENT_USER, "Src"), dst(HKEY_CURRENT_USER, "Dst");
    HKEY U = HKEY_CURRENT_USER;
    // Source child paths of up to 255 characters fit; one more does not.
    std::string base = src.path() + "\\" + std::string(200 - src.path().size(), 'p');
    std::string fits(255 - base.size() - 1, 'f');
    std::string tooLong(255 - base.size(), 't');
    SetSz(U, base, "Top", "top");
    SetSz(U, base + "\\" + fits, "F", "fits");
    SetSz(U, base + "\\" + tooLong, "T", "too long");

    ASSERT_EQ(CopyKey()(U, base.c_str(), U, dst.path().c_str()), 0) << "a skipped child does not change the result";
    EXPECT_EQ(GetValue(U, dst.path(), "Top").data, Sz("top"));
    EXPECT_EQ(GetValue(U, dst / fits, "F").data, Sz("fits"));
    EXPECT_FALSE(KeyExists(U, dst / tooLong)) << "no key under a cut-short name either";
    HKEY target;
    ASSERT_EQ(::RegOpenKeyExA(U, dst.path().c_str(), 0, KEY_READ, &target), 0);
    EXPECT_EQ(Names(target, false), std::vector<std::string>{fits});
    ::RegCloseKey(target);
}

// A null path names no key; an empty one names the root itself, whose
// children "\name" name no key, so the copy never takes a whole root.
TEST(CopyKey, NullPathIsRefusedAndEmptyPathNeverWidensToTheRoot)
{
    HKEY U = HKEY_CURRENT_USER;
    TestKey src(U, "Src"), dst(U, "Dst");
    SetSz(U, src / "SetupsupNullTargetChild", "V", "v");
    SetSz(U, src.path(), "SetupsupNullTargetValue", "v");
    EXPECT_EQ(CopyKey()(U, nullptr, U, dst.path().c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(KeyExists(U, dst.path())) << "a null source creates nothing";
    EXPECT_EQ(CopyKey()(U, src.path().c_str(), U, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(KeyExists(U, "SetupsupNullTargetChild")) << "a null target writes nothing under the root";
    EXPECT_NE(GetValue(U, "", "SetupsupNullTargetValue").rc, 0);

    EXPECT_EQ(CopyKey()(U, "", U, dst.path().c_str()), 0);
    HKEY copy;
    ASSERT_EQ(::RegOpenKeyExA(U, dst.path().c_str(), 0, KEY_READ, &copy), 0);
    EXPECT_EQ(Names(copy, false), std::vector<std::string>{}) << "no subkey of the root is copied";
    ::RegCloseKey(copy);
}

namespace {

// An application key under parent: parent\name\Setup with the given mark.
void AddApp(const std::string& app, DWORD type, const Bytes& mark)
{
    SetValue(HKEY_CURRENT_USER, app + "\\Setup", "CurrentlyRegistered", type, mark);
}

Value Mark(const std::string& app) { return GetValue(HKEY_CURRENT_USER, app + "\\Setup", "CurrentlyRegistered"); }

// The last-write time of the application's "Setup" key: a value written to
// it moves the time (Windows: even with the same data; Wine skips that write).
uint64_t MarkWritten(const std::string& app)
{
    HKEY key = nullptr;
    FILETIME written{};
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, (app + "\\Setup").c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &written);
        ::RegCloseKey(key);
    }
    return Ticks(written);
}

} // namespace

TEST(UnregisterZORBApps, CountsStringMarksAndResetsThemToZero)
{
    TestKey root(HKEY_CURRENT_USER);
    DWORD one = 1;
    AddApp(root / "One", REG_SZ, Sz("1"));
    // "0" with bytes after its NUL: a rewrite would store plain "0". (Wine skips
    // a write of identical data, so a plain "0" could not show one.)
    const Bytes zero = {'0', 0, 'x', 0};
    AddApp(root / "Zero", REG_SZ, zero);
    AddApp(root / "Group\\DoubleZero", REG_SZ, Sz("00"));
    AddApp(root / "Dword", REG_DWORD, Bytes(reinterpret_cast<BYTE*>(&one), reinterpret_cast<BYTE*>(&one) + 4));
    AddApp(root / "Expand", REG_EXPAND_SZ, Sz("1"));
    SetSz(HKEY_CURRENT_USER, root / "NoApp\\Deeper", "Other", "1");
    const uint64_t oneWritten = MarkWritten(root / "One"), zeroWritten = MarkWritten(root / "Zero");
    ASSERT_NE(zeroWritten, 0u);
    ::Sleep(50); // a rewrite now would carry a later last-write time

    EXPECT_EQ(UnregisterZORBApps()(root.path().c_str()), 3) << "three string marks: 1, 0 and 00";
    EXPECT_EQ(Mark(root / "One").data, Sz("0"));
    EXPECT_GT(MarkWritten(root / "One"), oneWritten) << "a reset mark is written";
    EXPECT_EQ(Mark(root / "Zero").data, zero) << "a mark already holding \"0\" is not rewritten";
    EXPECT_EQ(MarkWritten(root / "Zero"), zeroWritten) << "a mark already holding \"0\" is not rewritten";
    EXPECT_EQ(Mark(root / "Group\\DoubleZero").data, Sz("0"));
    Value dword = Mark(root / "Dword");
    EXPECT_EQ(dword.type, static_cast<DWORD>(REG_DWORD)) << "a DWORD mark is left alone";
    EXPECT_EQ(dword.data, Bytes({1, 0, 0, 0}));
    Value expand = Mark(root / "Expand");
    EXPECT_EQ(expand.type, static_cast<DWORD>(REG_EXPAND_SZ)) << "an expandable mark is left alone";
    EXPECT_EQ(expand.data, Sz("1"));

    EXPECT_EQ(UnregisterZORBApps()(root.path().c_str()), 3) << "reset marks still count";
}

TEST(UnregisterZORBApps, StartKeyThatIsAnApplicationIsTheOnlyOneHandled)
{
    TestKey root(HKEY_CURRENT_USER);
    AddApp(root.path(), REG_SZ, Sz("1"));
    AddApp(root / "Nested", REG_SZ, Sz("1"));
    EXPECT_EQ(UnregisterZORBApps()(root.path().c_str()), 1);
    EXPECT_EQ(Mark(root.path()).data, Sz("0"));
    EXPECT_EQ(Mark(root / "Nested").data, Sz("1")) << "the application's subkeys are not walked";

    TestKey unmarked(HKEY_CURRENT_USER);
    AddApp(unmarked.path(), REG_DWORD, Bytes(4, 0));
    AddApp(unmarked / "Nested", REG_SZ, Sz("1"));
    EXPECT_EQ(UnregisterZORBApps()(unmarked.path().c_str()), 0) << "an application without a string mark";
    EXPECT_EQ(Mark(unmarked / "Nested").data, Sz("1"));
}

TEST(UnregisterZORBApps, MissingStartKeyGivesZero)
{
    TestKey root(HKEY_CURRENT_USER);
    EXPECT_EQ(UnregisterZORBApps()(root.path().c_str()), 0);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root.path()));
}

TEST(UnregisterZORBApps, SetupWithoutFullAccessIsWalkedLikeAnyKey)
{
    TestKey root(HKEY_CURRENT_USER);
    std::string app = root / "App";
    AddApp(app + "\\Setup", REG_SZ, Sz("1")); // App\Setup\Setup: reached only by walking App\Setup
    AddApp(app + "\\Sibling", REG_SZ, Sz("1"));
    SetSz(HKEY_CURRENT_USER, app + "\\Setup", "CurrentlyRegistered", "1");

    // Read-only for everyone, enforced by the Wine server while it runs.
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(
        ::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KR;;;WD)", SDDL_REVISION_1, &sd, nullptr));
    HKEY setup;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, (app + "\\Setup").c_str(), 0, WRITE_DAC, &setup), 0);
    EXPECT_EQ(::RegSetKeySecurity(setup, DACL_SECURITY_INFORMATION, sd), 0);
    ::RegCloseKey(setup);
    ::LocalFree(sd);
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, (app + "\\Setup").c_str(), 0, KEY_ALL_ACCESS, &setup),
              ERROR_ACCESS_DENIED)
        << "the read-only Setup key must refuse full access";

    EXPECT_EQ(UnregisterZORBApps()(root.path().c_str()), 2) << "App\\Setup\\Setup and App\\Sibling\\Setup";
    EXPECT_EQ(Mark(app + "\\Setup").data, Sz("0"));
    EXPECT_EQ(Mark(app + "\\Sibling").data, Sz("0"));
    EXPECT_EQ(Mark(app).data, Sz("1")) << "the read-only Setup's own mark is not touched";

    ::RegDeleteTreeA(HKEY_CURRENT_USER, root.path().c_str());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, app + "\\Setup")) << "clean-up despite the read-only key";
}

TEST(UnregisterZORBApps, NullOrEmptyStartLeavesEveryMarkAlone)
{
    TestKey root(HKEY_CURRENT_USER);
    AddApp(root / "App", REG_SZ, Sz("1"));
    EXPECT_EQ(UnregisterZORBApps()(nullptr), 0);
    EXPECT_EQ(UnregisterZORBApps()(""), 0) << "\\Software names no key: the hive is not walked";
    EXPECT_EQ(Mark(root / "App").data, Sz("1"));
}
