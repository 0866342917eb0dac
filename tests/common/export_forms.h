// The two forms of the exports that take or give text, for tests that run
// each check once over the ANSI exports and once over their W twins.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/common/test_support.h"

namespace setupsup_test {

// One form: the ANSI export (Char char) or its W twin (Char wchar_t, the
// name with W appended). A test derives its Form from it, adding its calls.
template <typename C>
struct ExportForm {
    using Char = C;
    using Text = std::basic_string<C>;
    const char* suffix;

    // text (ANSI, as the tests name files and keys) in this form's characters.
    Text Of(const std::string& text) const
    {
        if constexpr (sizeof(C) == 1)
            return text;
        else
            return CodePageToWide(CP_ACP, text);
    }
    // The export name, in this form, as a pointer of type Fn.
    template <typename Fn>
    Fn Get(const char* name) const
    {
        return Export<Fn>((std::string(name) + suffix).c_str());
    }
};

// Runs check(Form<char>) and then check(Form<wchar_t>); a failure names the
// form.
template <template <typename> class Form, typename Check>
void ForEachForm(Check check)
{
    {
        SCOPED_TRACE("ANSI export");
        check(Form<char>{{""}});
    }
    SCOPED_TRACE("W export");
    check(Form<wchar_t>{{"W"}});
}

} // namespace setupsup_test
