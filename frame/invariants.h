// SETUPSUP_ASSERT(condition): an internal precondition or invariant, stated
// where the code assumes it. Checked in debug builds (the native tests) and
// in the test programs that compile the library's sources in
// (SETUPSUP_TEST_SEAMS); compiled out of the shipped DLL, where an export
// must never end its caller's process. Plain C++: the CBF core uses it too.
#pragma once

#if !defined(NDEBUG) || defined(SETUPSUP_TEST_SEAMS)
#include <cstdio>
#include <cstdlib>

namespace setupsup {
[[noreturn]] inline void AssertionFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: internal assertion failed: %s\n", file, line, condition);
    std::abort();
}
} // namespace setupsup

#define SETUPSUP_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : ::setupsup::AssertionFailed(#condition, __FILE__, __LINE__))
#else
#define SETUPSUP_ASSERT(condition) static_cast<void>(sizeof(condition))
#endif
