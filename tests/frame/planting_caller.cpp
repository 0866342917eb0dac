// A caller of setupsup.dll for the planting test: loads the DLL by its full
// path beside itself, as an installer loads the copy it brought, calls every
// export that loads a DLL at run time, and prints one line per call:
//   GetHostIPAddr      wsock32.dll
//   IsZORBAppRunning   psapi.dll (asked for this program's own name)
//   GetFileLanguage    version.dll (of setupsup.dll itself)
//   FindFileUsers      psapi.dll and rstrtmgr.dll (of setupsup.dll itself)
//   SelfRegisterFile   the COM server named by the first argument, and the
//                      private DLL it imports
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using BufferFn = int(WINAPI*)(char*);
using PathFn = int(WINAPI*)(const char*);
using LanguageFn = int(WINAPI*)(const char*, int*, int*, char*);
using UsersFn = int(WINAPI*)(const char*, char*, DWORD);

template <typename Fn>
Fn Entry(HMODULE dll, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(dll, name)));
}

std::string ProgramPath()
{
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length < MAX_PATH ? std::string(path, length) : std::string();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string self = ProgramPath();
    const std::string folder = self.substr(0, self.find_last_of('\\') + 1);
    const std::string dllPath = folder + "setupsup.dll";
    HMODULE dll = ::LoadLibraryA(dllPath.c_str());
    if (!dll)
        return 3;
    char text[64] = {};
    int rc = Entry<BufferFn>(dll, "GetHostIPAddr")(text);
    std::printf("GetHostIPAddr %d %s\n", rc, text);
    rc = Entry<PathFn>(dll, "IsZORBAppRunning")(self.substr(folder.size()).c_str());
    std::printf("IsZORBAppRunning %d\n", rc);
    int low = 0, high = 0;
    rc = Entry<LanguageFn>(dll, "GetFileLanguage")(dllPath.c_str(), &low, &high, text);
    std::printf("GetFileLanguage %d %d %d %s\n", rc, low, high, text);
    rc = Entry<UsersFn>(dll, "FindFileUsers")(dllPath.c_str(), nullptr, 0);
    std::printf("FindFileUsers %d\n", rc);
    rc = Entry<PathFn>(dll, "SelfRegisterFile")(argv[1]);
    std::printf("SelfRegisterFile %d\n", rc);
    ::FreeLibrary(dll);
    return 0;
}
