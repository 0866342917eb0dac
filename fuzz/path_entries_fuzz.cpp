// libFuzzer target: the Path text rules (environment/path_entries.h) on an
// arbitrary value and folder. Input: one byte (bit 0: at the front; the
// rest: the folder's length in units), then UTF-16 units, the folder's
// first, the value's after; each sits in a block of exactly its size. A
// folder the exports take (no ';', a non-empty core) that no entry names
// must be named once added, and removing it must give the value back.
#include "environment/path_entries.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

namespace pe = setupsup::path_entries;
using View = std::u16string_view;

// ASCII letters alike in either case, as a stand-in for CompareStringW.
char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool Same(const void*, View a, View b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "path_entries_fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool atFront = (data[0] & 1) != 0;
    const size_t units = (size - 1) / sizeof(char16_t);
    const size_t folderUnits = std::min<size_t>(data[0] >> 1, units);
    std::unique_ptr<char16_t[]> all(new char16_t[units + 1]);
    std::memcpy(all.get(), data + 1, units * sizeof(char16_t));
    const View folder(all.get(), folderUnits);
    const View value(all.get() + folderUnits, units - folderUnits);
    const pe::Matcher<char16_t> matcher{Same, nullptr};
    if (pe::HoldsSeparator(folder) || pe::Core(folder).empty() || pe::HasEntry(value, folder, matcher))
        return 0;
    const size_t length = pe::AddedLength(value, folder);
    std::unique_ptr<char16_t[]> added(new char16_t[length]);
    pe::WriteAdded(value, folder, atFront, added.get());
    const View addedView(added.get(), length);
    if (!pe::HasEntry(addedView, folder, matcher))
        Fail("the added folder is not found");
    std::unique_ptr<char16_t[]> removed(new char16_t[length]);
    size_t count = 0;
    const size_t left = pe::WriteRemoved(addedView, folder, matcher, removed.get(), &count);
    if (count != 1 || View(removed.get(), left) != value)
        Fail("removing the added folder does not give the value back");
    return 0;
}
