// The text rules of a Path value (path_entries.h).
#include "environment/path_entries.h"

#include <algorithm>

namespace setupsup::path_entries {
namespace {

template <typename Unit>
constexpr Unit kSeparator = static_cast<Unit>(';');

// The piece of value from start to the next ';' (or the end).
template <typename Unit>
std::basic_string_view<Unit> EntryAt(std::basic_string_view<Unit> value, size_t start)
{
    const size_t end = value.find(kSeparator<Unit>, start);
    return value.substr(start, end == std::basic_string_view<Unit>::npos ? value.size() - start : end - start);
}

// True when entry names folder (already reduced by Core); an empty entry
// names nothing.
template <typename Unit>
bool Names(std::basic_string_view<Unit> entry, std::basic_string_view<Unit> folderCore, const Matcher<Unit>& matcher)
{
    const std::basic_string_view<Unit> core = Core(entry);
    return !core.empty() && matcher.same(matcher.context, core, folderCore);
}

} // namespace

template <typename Unit>
std::basic_string_view<Unit> Core(std::basic_string_view<Unit> entry)
{
    const Unit space = static_cast<Unit>(' ');
    while (!entry.empty() && entry.front() == space)
        entry.remove_prefix(1);
    while (!entry.empty() && entry.back() == space)
        entry.remove_suffix(1);
    const Unit quote = static_cast<Unit>('"');
    if (entry.size() >= 2 && entry.front() == quote && entry.back() == quote)
        entry = entry.substr(1, entry.size() - 2);
    if (!entry.empty() && entry.back() == static_cast<Unit>('\\'))
        entry.remove_suffix(1);
    return entry;
}

template <typename Unit>
bool HoldsSeparator(std::basic_string_view<Unit> folder)
{
    return folder.find(kSeparator<Unit>) != std::basic_string_view<Unit>::npos;
}

template <typename Unit>
bool HasEntry(std::basic_string_view<Unit> value, std::basic_string_view<Unit> folder, const Matcher<Unit>& matcher)
{
    const std::basic_string_view<Unit> folderCore = Core(folder);
    for (size_t start = 0; start <= value.size();) {
        const std::basic_string_view<Unit> entry = EntryAt(value, start);
        if (Names(entry, folderCore, matcher))
            return true;
        start += entry.size() + 1;
    }
    return false;
}

template <typename Unit>
size_t AddedLength(std::basic_string_view<Unit> value, std::basic_string_view<Unit> folder)
{
    return value.empty() ? folder.size() : value.size() + 1 + folder.size();
}

template <typename Unit>
void WriteAdded(std::basic_string_view<Unit> value, std::basic_string_view<Unit> folder, bool atFront, Unit* out)
{
    if (value.empty()) {
        std::copy(folder.begin(), folder.end(), out);
        return;
    }
    const std::basic_string_view<Unit> first = atFront ? folder : value;
    const std::basic_string_view<Unit> second = atFront ? value : folder;
    out = std::copy(first.begin(), first.end(), out);
    *out++ = kSeparator<Unit>;
    std::copy(second.begin(), second.end(), out);
}

template <typename Unit>
size_t WriteRemoved(std::basic_string_view<Unit> value, std::basic_string_view<Unit> folder,
                    const Matcher<Unit>& matcher, Unit* out, size_t* removed)
{
    const std::basic_string_view<Unit> folderCore = Core(folder);
    *removed = 0;
    size_t written = 0;
    bool first = true;
    for (size_t start = 0; start <= value.size();) {
        const std::basic_string_view<Unit> entry = EntryAt(value, start);
        start += entry.size() + 1;
        if (Names(entry, folderCore, matcher)) {
            ++*removed;
            continue;
        }
        if (!first)
            out[written++] = kSeparator<Unit>;
        first = false;
        written = static_cast<size_t>(std::copy(entry.begin(), entry.end(), out + written) - out);
    }
    return written;
}

// The two unit types: the library's wchar_t (16 bits on Windows) and the
// native tests' char16_t.
template std::basic_string_view<wchar_t> Core(std::basic_string_view<wchar_t>);
template bool HoldsSeparator(std::basic_string_view<wchar_t>);
template bool HasEntry(std::basic_string_view<wchar_t>, std::basic_string_view<wchar_t>, const Matcher<wchar_t>&);
template size_t AddedLength(std::basic_string_view<wchar_t>, std::basic_string_view<wchar_t>);
template void WriteAdded(std::basic_string_view<wchar_t>, std::basic_string_view<wchar_t>, bool, wchar_t*);
template size_t WriteRemoved(std::basic_string_view<wchar_t>, std::basic_string_view<wchar_t>, const Matcher<wchar_t>&,
                             wchar_t*, size_t*);
template std::basic_string_view<char16_t> Core(std::basic_string_view<char16_t>);
template bool HoldsSeparator(std::basic_string_view<char16_t>);
template bool HasEntry(std::basic_string_view<char16_t>, std::basic_string_view<char16_t>, const Matcher<char16_t>&);
template size_t AddedLength(std::basic_string_view<char16_t>, std::basic_string_view<char16_t>);
template void WriteAdded(std::basic_string_view<char16_t>, std::basic_string_view<char16_t>, bool, char16_t*);
template size_t WriteRemoved(std::basic_string_view<char16_t>, std::basic_string_view<char16_t>,
                             const Matcher<char16_t>&, char16_t*, size_t*);

} // namespace setupsup::path_entries
