// The walk over the product-suite strings of QueryTerminalServer.
#include "sysinfo/product_suite.h"

#include <cstring>

namespace setupsup {

namespace {
constexpr char kTerminalServer[] = "Terminal Server";
}

// Each string's length is looked for only within the bytes that remain.
bool SuiteListHasTerminalServer(const char* list, size_t size)
{
    const size_t wanted = sizeof kTerminalServer - 1;
    for (size_t at = 0; at < size;) {
        const void* end = std::memchr(list + at, '\0', size - at);
        size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - (list + at)) : size - at;
        if (length == 0)
            return false;
        if (length == wanted && std::memcmp(list + at, kTerminalServer, wanted) == 0)
            return true;
        at += length + 1;
    }
    return false;
}

} // namespace setupsup
