// Test helper started through the shell: writes its command line, current
// folder and show command to "<first argument>.rec", through a temporary
// file renamed at the end so that the test never reads half a record.
#include <windows.h>
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(sizeof folder, folder);
    std::string record = std::string(argv[1]) + ".rec";
    std::string temporary = record + ".tmp";
    FILE* out = std::fopen(temporary.c_str(), "w");
    if (!out)
        return 3;
    std::fprintf(out, "%s\n%s\n%d\n", ::GetCommandLineA(), folder,
                 (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1);
    std::fclose(out);
    return ::MoveFileA(temporary.c_str(), record.c_str()) ? 0 : 4;
}
