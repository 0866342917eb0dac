// setupclient: drives setupsup.dll the way an installer does, by loading it
// with LoadLibraryA and calling its exports through GetProcAddress.
//
//   setupclient merge SOURCE TARGET     MergeCbf
//   setupclient prune SOURCE TARGET     PruneCbf
//   setupclient truncate TARGET         TruncateCbf
//   setupclient times FILE              the file's three times, to 100 ns
//
// A source of "-" passes a null path (the library then reads "ZORBDLG.CBF"
// from the current folder). Exit status: 0 when the export returned 0.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

using TwoPaths = int(WINAPI*)(const char*, const char*);
using OnePath = int(WINAPI*)(const char*);

HMODULE g_library;

FARPROC Find(const char* name)
{
    FARPROC entry = GetProcAddress(g_library, name);
    if (!entry)
        std::fprintf(stderr, "setupclient: setupsup.dll has no export %s\n", name);
    return entry;
}

const char* SourceArgument(const char* text) { return std::strcmp(text, "-") == 0 ? nullptr : text; }

int Report(const char* what, int result)
{
    std::printf("%s returned %d%s\n", what, result, result == 0 ? " (success)" : "");
    return result == 0 ? 0 : 1;
}

int CallTwoPaths(const char* name, const char* source, const char* target)
{
    auto entry = reinterpret_cast<TwoPaths>(reinterpret_cast<void*>(Find(name)));
    if (!entry)
        return 2;
    return Report(name, entry(SourceArgument(source), target));
}

int CallOnePath(const char* name, const char* target)
{
    auto entry = reinterpret_cast<OnePath>(reinterpret_cast<void*>(Find(name)));
    if (!entry)
        return 2;
    return Report(name, entry(target));
}

void PrintTime(const char* role, const FILETIME& time)
{
    SYSTEMTIME utc;
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    if (!FileTimeToSystemTime(&time, &utc)) {
        std::printf("  %-12s (unrepresentable)\n", role);
        return;
    }
    std::printf("  %-12s %04u-%02u-%02u %02u:%02u:%02u.%07llu UTC\n", role, utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                utc.wMinute, utc.wSecond, static_cast<unsigned long long>(ticks.QuadPart % 10000000));
}

int ShowTimes(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "setupclient: cannot open %s (error %lu)\n", path, GetLastError());
        return 1;
    }
    FILETIME creation, access, write;
    BOOL ok = GetFileTime(file, &creation, &access, &write);
    CloseHandle(file);
    if (!ok)
        return 1;
    std::printf("%s:\n", path);
    PrintTime("created", creation);
    PrintTime("last access", access);
    PrintTime("last write", write);
    return 0;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: setupclient merge SOURCE TARGET | prune SOURCE TARGET | truncate TARGET | times FILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    const char* command = argv[1];
    if (std::strcmp(command, "times") == 0)
        return ShowTimes(argv[2]);

    g_library = LoadLibraryA("setupsup.dll");
    if (!g_library) {
        std::fprintf(stderr, "setupclient: LoadLibraryA(\"setupsup.dll\") failed with error %lu\n", GetLastError());
        return 2;
    }
    int status;
    if (std::strcmp(command, "merge") == 0 && argc == 4)
        status = CallTwoPaths("MergeCbf", argv[2], argv[3]);
    else if (std::strcmp(command, "prune") == 0 && argc == 4)
        status = CallTwoPaths("PruneCbf", argv[2], argv[3]);
    else if (std::strcmp(command, "truncate") == 0 && argc == 3)
        status = CallOnePath("TruncateCbf", argv[2]);
    else
        status = Usage();
    FreeLibrary(g_library);
    return status;
}
