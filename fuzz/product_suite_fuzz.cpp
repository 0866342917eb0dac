// libFuzzer target: the walk over the product-suite strings of the Terminal
// Server test, on arbitrary bytes as the registry may return them (the list
// is written by others: a last string without its NUL, no final empty
// string, embedded empties). The bytes sit in a block of exactly their size,
// so any read past them is caught, and the answer is checked against a plain
// reading of the same rule.
#include "sysinfo/product_suite.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The rule read plainly: strings up to each NUL (the last one may run to the
// end of the data), stopping at the first empty one.
bool Expected(const char* data, size_t size)
{
    std::string list(data, size);
    size_t at = 0;
    while (at < size) {
        size_t end = list.find('\0', at);
        std::string item = list.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (item.empty())
            return false;
        if (item == "Terminal Server")
            return true;
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<char[]> block(new char[size]);
    if (size > 0)
        std::memcpy(block.get(), data, size);
    if (setupsup::SuiteListHasTerminalServer(block.get(), size) != Expected(block.get(), size)) {
        std::fprintf(stderr, "product_suite_fuzz: the walk disagrees with the rule\n");
        std::abort();
    }
    return 0;
}
