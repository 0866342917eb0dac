// The product-suite list of the Terminal Server test, read as the registry
// gives it. Plain C++ without Win32, so that the walk also builds natively
// (the fuzz target feeds it arbitrary bytes: the list is data the library did
// not write).
#pragma once

#include <cstddef>

namespace setupsup {

// True when the REG_MULTI_SZ block list of size bytes names "Terminal Server"
// exactly (case included) in one of its strings. The walk ends at the first
// empty string or at the end of the data, so a list without its final empty
// string, or a last string without its NUL, is never read past.
bool SuiteListHasTerminalServer(const char* list, size_t size);

} // namespace setupsup
