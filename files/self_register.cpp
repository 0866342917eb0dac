// SelfRegisterFile: registers an installed component. A file whose name ends
// in "tlb" is a type library and is registered through OLE Automation; any
// other file is a COM server module asked to register itself through its own
// DllRegisterServer entry point.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <atomic>
#include <cstring>

#include "frame/entry_points.h"
#include "frame/invariants.h"
#include "frame/text.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// Result codes of SelfRegisterFile, as setupsup.h names them; any other
// value is the module's own DllRegisterServer result.
constexpr int kRegistered = SETUPSUP_REGISTER_OK;
constexpr int kOleInitFailed = SETUPSUP_REGISTER_OLE_FAILED;
constexpr int kTypeLibNotRegistered = SETUPSUP_REGISTER_TYPELIB_NOT_REGISTERED;
constexpr int kTypeLibNotLoaded = SETUPSUP_REGISTER_TYPELIB_NOT_LOADED;
constexpr int kNoRegisterEntry = SETUPSUP_REGISTER_NO_ENTRY_POINT;
constexpr int kModuleNotLoaded = SETUPSUP_REGISTER_NOT_LOADABLE;

// Room for the widened type-library path, terminating NUL included.
constexpr size_t kWidePathUnits = 256;

// Set once OleInitialize has succeeded in this process, on any thread, and
// never cleared; OLE is never uninitialised here: components registered
// later in the same installer run (on any thread) rely on it staying up.
// Two first calls at the same moment each initialise OLE on their own
// thread, which is harmless; the flag only ever goes from false to true.
constinit std::atomic<bool> g_oleInitialised{false};

using RegisterServerFn = HRESULT(STDAPICALLTYPE*)();

// Initialises OLE unless an earlier call of this process already has. A
// failure leaves the flag clear, so that the next call tries again.
bool EnsureOleInitialised()
{
    if (g_oleInitialised.load(std::memory_order_acquire))
        return true;
    if (FAILED(::OleInitialize(nullptr)))
        return false;
    g_oleInitialised.store(true, std::memory_order_release);
    return true;
}

// True when path is longer than three characters and ends in t, l, b
// (either case). No dot is required and nothing else in the name is looked at.
template <typename Char>
bool IsTypeLibraryName(const Char* path)
{
    SETUPSUP_ASSERT(path != nullptr);
    size_t n = TextLength(path);
    if (n <= 3)
        return false;
    const Char* tail = path + n - 3;
    return (tail[0] == 't' || tail[0] == 'T') && (tail[1] == 'l' || tail[1] == 'L') &&
           (tail[2] == 'b' || tail[2] == 'B');
}

// Widens path byte for byte (0x80..0xFF become U+0080..U+00FF, not a code
// page conversion). False when the path and its NUL do not fit.
bool WidenBytes(const char* path, wchar_t (&wide)[kWidePathUnits])
{
    size_t n = std::strlen(path);
    if (n >= kWidePathUnits)
        return false;
    for (size_t i = 0; i <= n; ++i)
        wide[i] = static_cast<unsigned char>(path[i]);
    return true;
}

// The wide path OLE Automation takes, in the same room for both exports: a
// UTF-16 path as it is, an ANSI path widened byte for byte.
bool WidePath(const wchar_t* path, wchar_t (&wide)[kWidePathUnits])
{
    size_t n = TextLength(path);
    if (n >= kWidePathUnits)
        return false;
    std::memcpy(wide, path, (n + 1) * sizeof(wchar_t));
    return true;
}

bool WidePath(const char* path, wchar_t (&wide)[kWidePathUnits]) { return WidenBytes(path, wide); }

template <typename Char>
int RegisterTypeLibrary(const Char* path)
{
    wchar_t wide[kWidePathUnits];
    if (!WidePath(path, wide))
        return kTypeLibNotLoaded;
    unique_typelib typeLib;
    if (FAILED(::LoadTypeLib(wide, typeLib.put())))
        return kTypeLibNotLoaded;
    if (FAILED(::RegisterTypeLib(typeLib.get(), wide, nullptr)))
        return kTypeLibNotRegistered;
    return kRegistered;
}

// True for a path the system takes as it stands: a drive and a backslash
// ("C:\\...") or two backslashes (a UNC path, or "\\\\?\\..."). "C:name" and
// "\\dir\\name" depend on the current drive or folder; a path with forward
// slashes is left to the plain load, which takes it.
template <typename Char>
bool IsAbsolutePath(const Char* path)
{
    const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':';
    return (drive && path[2] == '\\') || (path[0] == '\\' && path[1] == '\\');
}

// Loads the module as regsvr32 does. An absolute path is loaded with the
// altered search order, so that the DLLs the module imports are found in
// its own folder (where its application installed them) and never beside
// the installer; a relative path or bare name is searched for as always.
template <typename Char>
unique_hmodule LoadServerModule(const Char* path)
{
    if (IsAbsolutePath(path))
        return unique_hmodule(LoadLibraryExT(path, LOAD_WITH_ALTERED_SEARCH_PATH));
    return unique_hmodule(LoadLibraryT(path));
}

template <typename Char>
int RegisterModule(const Char* path)
{
    unique_hmodule module = LoadServerModule(path);
    if (!module)
        return kModuleNotLoaded;
    auto registerServer = FindEntry<RegisterServerFn>(module.get(), "DllRegisterServer");
    if (!registerServer)
        return kNoRegisterEntry;
    // Passed back unchanged, so that failure codes arrive as negative numbers.
    return static_cast<int>(registerServer());
}

// Registers the file named path. OLE is initialised first, for a module as
// for a type library, so a null path fails only after that, as a module
// that cannot be loaded.
template <typename Char>
int Register(const Char* path)
{
    const bool typeLibrary = path && IsTypeLibraryName(path);
    if (!EnsureOleInitialised())
        return kOleInitFailed;
    if (!path)
        return kModuleNotLoaded;
    return typeLibrary ? RegisterTypeLibrary(path) : RegisterModule(path);
}

// A file whose name cannot reach the system (on the Windows 95 family, a W
// path without an exact ANSI form): after OLE, as the file its name says it
// is that cannot be loaded.
int RefuseUnnamedFile(const wchar_t* path)
{
    const bool typeLibrary = IsTypeLibraryName(path);
    if (!EnsureOleInitialised())
        return kOleInitFailed;
    return typeLibrary ? kTypeLibNotLoaded : kModuleNotLoaded;
}

} // namespace
} // namespace setupsup

extern "C" SETUPSUP_API int WINAPI SelfRegisterFile(const char* path) { return setupsup::Register(path); }

// On the Windows 95 family a path without an exact ANSI form names a file
// that cannot be loaded, of the kind its name says.
extern "C" SETUPSUP_API int WINAPI SelfRegisterFileW(const wchar_t* path)
{
    return setupsup::WideCall([path](const char*) { return setupsup::RefuseUnnamedFile(path); },
                              [](auto name) { return setupsup::Register(name); }, path);
}
