// Test helper started through the shell: writes its command line, current
// folder and show command, in UTF-8, to "<first argument>.rec", through a
// temporary file renamed at the end so that the test never reads half a
// record. Wide throughout, so that names outside the ANSI code page reach it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t* text)
{
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    const std::wstring record = std::wstring(argv[1]) + L".rec";
    const std::wstring temporary = record + L".tmp";
    FILE* out = ::_wfopen(temporary.c_str(), L"w");
    if (!out)
        return 3;
    std::fprintf(out, "%s\n%s\n%d\n", Utf8(::GetCommandLineW()).c_str(), Utf8(folder).c_str(),
                 (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1);
    std::fclose(out);
    return ::MoveFileW(temporary.c_str(), record.c_str()) ? 0 : 4;
}
