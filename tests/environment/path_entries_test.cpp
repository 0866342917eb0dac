// Native tests of the Path text rules (environment/path_entries.h): which
// entries name a folder, and the value with one added or removed, which
// gives the original back. Built with ASan: a write past the room the rules
// ask for fails the run.
#include "environment/path_entries.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

namespace pe = setupsup::path_entries;
using View = std::u16string_view;

// ASCII case folding, the Win32 side's CompareStringW stand-in.
std::u16string Folded(View text)
{
    std::u16string folded(text);
    for (char16_t& c : folded)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return folded;
}

// The stand-in for the expansion: %PF% is C:\Program Files.
std::u16string Expanded(View text)
{
    const View variable = u"%PF%";
    std::u16string out(text);
    if (out.size() >= variable.size() && Folded(out.substr(0, variable.size())) == Folded(variable))
        out.replace(0, variable.size(), u"C:\\Program Files");
    return out;
}

bool Same(const void*, View entry, View folder)
{
    return Folded(entry) == Folded(folder) || Folded(Expanded(entry)) == Folded(Expanded(folder));
}

const pe::Matcher<char16_t> kMatcher{Same, nullptr};

std::u16string Added(View value, View folder, bool atFront)
{
    std::u16string out(pe::AddedLength(value, folder), u'\0');
    // A block of exactly the room the rules asked for, for ASan.
    auto room = std::make_unique<char16_t[]>(out.size());
    pe::WriteAdded(value, folder, atFront, room.get());
    return std::u16string(room.get(), out.size());
}

std::u16string Removed(View value, View folder, size_t* removed)
{
    auto room = std::make_unique<char16_t[]>(value.size() + 1);
    const size_t length = pe::WriteRemoved(value, folder, kMatcher, room.get(), removed);
    EXPECT_LE(length, value.size());
    return std::u16string(room.get(), length);
}

// One table: a value, a folder, whether an entry names it, and the value
// with the folder added at the end and at the front; each addition, removed
// again, gives the value back byte for byte.
TEST(PathEntries, AddsFindsAndRemovesByTheTable)
{
    const std::u16string longValue = std::u16string(29990, u'x') + u";C:\\y";
    struct Case {
        const char* name;
        std::u16string value;
        std::u16string folder;
        bool there;
        std::u16string atEnd, atFront;
    } cases[] = {
        {"empty", u"", u"C:\\App", false, u"C:\\App", u"C:\\App"},
        {"plain", u"C:\\A;C:\\B", u"C:\\App", false, u"C:\\A;C:\\B;C:\\App", u"C:\\App;C:\\A;C:\\B"},
        {"empty entries and spacing", u";C:\\A;; C:\\B ;", u"C:\\App", false, u";C:\\A;; C:\\B ;;C:\\App",
         u"C:\\App;;C:\\A;; C:\\B ;"},
        {"other case", u"C:\\A;c:\\app", u"C:\\App", true, u"", u""},
        {"trailing backslash", u"C:\\App\\;C:\\A", u"C:\\App", true, u"", u""},
        {"folder with trailing backslash", u"C:\\App", u"C:\\App\\", true, u"", u""},
        {"quoted and spaced", u"C:\\A; \"C:\\App\" ", u"C:\\App", true, u"", u""},
        {"unexpanded entry", u"%PF%\\App", u"C:\\Program Files\\App", true, u"", u""},
        {"unexpanded folder", u"C:\\Program Files\\App", u"%PF%\\App", true, u"", u""},
        {"a longer folder is another", u"C:\\Apps;C:\\App2", u"C:\\App", false, u"C:\\Apps;C:\\App2;C:\\App",
         u"C:\\App;C:\\Apps;C:\\App2"},
        {"long", longValue, u"C:\\App", false, longValue + u";C:\\App", u"C:\\App;" + longValue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pe::HasEntry<char16_t>(c.value, c.folder, kMatcher), c.there);
        if (c.there)
            continue;
        for (bool atFront : {false, true}) {
            const std::u16string added = Added(c.value, c.folder, atFront);
            EXPECT_EQ(added, atFront ? c.atFront : c.atEnd);
            EXPECT_TRUE(pe::HasEntry<char16_t>(added, c.folder, kMatcher));
            size_t removed = 0;
            EXPECT_EQ(Removed(added, c.folder, &removed), c.value);
            EXPECT_EQ(removed, 1u);
        }
    }
}

// Every entry that names the folder goes, however written; the others keep
// their bytes and order; a value of only the folder becomes empty.
TEST(PathEntries, RemovesEveryMatchAndKeepsTheRest)
{
    size_t removed = 0;
    EXPECT_EQ(Removed(u"x\\;C:\\A; \"X\" ;;C:\\B ;X", u"X", &removed), u"C:\\A;;C:\\B ");
    EXPECT_EQ(removed, 3u);
    EXPECT_EQ(Removed(u"X", u"x\\", &removed), u"");
    EXPECT_EQ(removed, 1u);
    EXPECT_EQ(Removed(u";C:\\A;", u"C:\\B", &removed), u";C:\\A;");
    EXPECT_EQ(removed, 0u);
}

// What is compared of an entry, and the folders refused.
TEST(PathEntries, CoreAndSeparator)
{
    EXPECT_EQ(pe::Core<char16_t>(u"  \"C:\\A\\\"  "), u"C:\\A");
    EXPECT_EQ(pe::Core<char16_t>(u"C:\\A\\\\"), u"C:\\A\\");
    EXPECT_EQ(pe::Core<char16_t>(u"\""), u"\"");
    EXPECT_EQ(pe::Core<char16_t>(u"   "), u"");
    EXPECT_TRUE(pe::HoldsSeparator<char16_t>(u"C:\\A;C:\\B"));
    EXPECT_FALSE(pe::HoldsSeparator<char16_t>(u"C:\\A"));
}

} // namespace
