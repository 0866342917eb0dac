// SelfRegisterFile, SelfUnregisterFile and their per-user forms: register or
// unregister an installed component. A file whose name ends in "tlb" is a
// type library and is (un)registered through OLE Automation; any other file
// is a COM server module asked to do it itself through its own
// DllRegisterServer or DllUnregisterServer entry point. The per-user forms
// redirect the machine's classes to the user's for the duration of the call.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <atomic>
#include <cstring>

#include "frame/entry_points.h"
#include "frame/invariants.h"
#include "frame/process_turn.h"
#include "frame/system_entries.h"
#include "frame/text.h"
#include "frame/text_api.h"
#include "frame/unique_handles.h"
#include "frame/wide_call.h"
#include "setupsup.h"

namespace setupsup {
namespace {

// Result codes of the four exports, as setupsup.h names them; any other
// value is the module's own DllRegisterServer or DllUnregisterServer result.
constexpr int kRegistered = SETUPSUP_REGISTER_OK;
constexpr int kOleInitFailed = SETUPSUP_REGISTER_OLE_FAILED;
constexpr int kTypeLibNotRegistered = SETUPSUP_REGISTER_TYPELIB_NOT_REGISTERED;
constexpr int kTypeLibNotLoaded = SETUPSUP_REGISTER_TYPELIB_NOT_LOADED;
constexpr int kNoRegisterEntry = SETUPSUP_REGISTER_NO_ENTRY_POINT;
constexpr int kModuleNotLoaded = SETUPSUP_REGISTER_NOT_LOADABLE;
constexpr int kNoUnregisterEntry = SETUPSUP_REGISTER_NO_UNREGISTER_ENTRY;
constexpr int kTypeLibNotUnregistered = SETUPSUP_REGISTER_TYPELIB_NOT_UNREGISTERED;
constexpr int kPerUserUnavailable = SETUPSUP_REGISTER_PER_USER_UNAVAILABLE;

// What a call does: the direction, and whose classes it writes.
enum class Direction { kRegister, kUnregister };
enum class Scope { kMachine, kUser };
struct Operation {
    Direction direction;
    Scope scope;
};

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

// Registers the type library at wide: for the user through
// RegisterTypeLibForUser where the system has it (Vista and later), else (and
// for the machine) through RegisterTypeLib, which the per-user call's
// redirect sends to the user's classes.
int RegisterTypeLibrary(wchar_t* wide, Scope scope, const AutomationEntries& automation)
{
    unique_typelib typeLib;
    if (FAILED(::LoadTypeLib(wide, typeLib.put())))
        return kTypeLibNotLoaded;
    const HRESULT hr = scope == Scope::kUser && automation.registerTypeLibForUser
                           ? automation.registerTypeLibForUser(typeLib.get(), wide, nullptr)
                           : ::RegisterTypeLib(typeLib.get(), wide, nullptr);
    return FAILED(hr) ? kTypeLibNotRegistered : kRegistered;
}

// True for UnRegisterTypeLib's answer when the library is not registered.
// Windows gives TYPE_E_REGISTRYACCESS when it cannot open the library's
// TypeLib\{guid}\major.minor key, which is what a library not registered
// has (a second "regsvr32 /u" of a server that unregisters its type library
// fails with 0x8002801C). Wine 8 gives E_INVALIDARG (measured, for both
// UnRegisterTypeLib and UnRegisterTypeLibForUser, with no key and with only
// the {guid} key); the arguments here are the file's own identity, valid
// whatever is registered, so that answer can mean nothing else.
bool MeansNotRegistered(HRESULT hr) { return hr == TYPE_E_REGISTRYACCESS || hr == E_INVALIDARG; }

// Unregisters the type library at wide by its own identity, read from the
// file loaded without registering it: for the user through
// UnRegisterTypeLibForUser where the system has it, else through
// UnRegisterTypeLib (redirected for the per-user call). A library that is not
// registered is unregistered already.
int UnregisterTypeLibrary(const wchar_t* wide, Scope scope, const AutomationEntries& automation)
{
    const UnRegisterTypeLibFn unregister = scope == Scope::kUser && automation.unRegisterTypeLibForUser
                                               ? automation.unRegisterTypeLibForUser
                                               : automation.unRegisterTypeLib;
    unique_typelib typeLib;
    if (!automation.loadTypeLibEx || FAILED(automation.loadTypeLibEx(wide, REGKIND_NONE, typeLib.put())))
        return kTypeLibNotLoaded;
    TLIBATTR* attributes = nullptr;
    if (FAILED(typeLib.get()->GetLibAttr(&attributes)))
        return kTypeLibNotLoaded;
    const TLIBATTR identity = *attributes;
    typeLib.get()->ReleaseTLibAttr(attributes);
    if (!unregister)
        return kTypeLibNotUnregistered;
    const HRESULT hr =
        unregister(identity.guid, identity.wMajorVerNum, identity.wMinorVerNum, identity.lcid, identity.syskind);
    return SUCCEEDED(hr) || MeansNotRegistered(hr) ? kRegistered : kTypeLibNotUnregistered;
}

// The type library named path, registered or unregistered as op says; a path
// too long for the wide buffer is refused as not loaded, never cut.
template <typename Char>
int CarryTypeLibrary(const Char* path, Operation op, const AutomationEntries& automation)
{
    SETUPSUP_ASSERT(path != nullptr);
    wchar_t wide[kWidePathUnits];
    if (!WidePath(path, wide))
        return kTypeLibNotLoaded;
    return op.direction == Direction::kRegister ? RegisterTypeLibrary(wide, op.scope, automation)
                                                : UnregisterTypeLibrary(wide, op.scope, automation);
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

// Calls the module's DllRegisterServer or DllUnregisterServer; the module is
// unloaded before the return.
template <typename Char>
int CarryModule(const Char* path, Direction direction)
{
    SETUPSUP_ASSERT(path != nullptr);
    unique_hmodule module = LoadServerModule(path);
    if (!module)
        return kModuleNotLoaded;
    const bool registering = direction == Direction::kRegister;
    auto entry = FindEntry<RegisterServerFn>(module.get(), registering ? "DllRegisterServer" : "DllUnregisterServer");
    if (!entry)
        return registering ? kNoRegisterEntry : kNoUnregisterEntry;
    // Passed back unchanged, so that failure codes arrive as negative numbers.
    return static_cast<int>(entry());
}

// The file named path, taken as a type library or a module as its name says.
template <typename Char>
int Carry(const Char* path, bool typeLibrary, Operation op, const AutomationEntries& automation)
{
    return typeLibrary ? CarryTypeLibrary(path, op, automation) : CarryModule(path, op.direction);
}

// Set while a per-user call holds the process's predefined-key redirect: the
// redirect is the process's, so two per-user calls at once would restore each
// other's. A flag rather than a critical section: it needs no initialisation
// and nothing to free, and it holds no per-call state.
constinit std::atomic_flag g_redirectHeld{};

// Redirects, for as long as it lives, HKEY_CLASSES_ROOT to
// HKCU\Software\Classes and HKEY_LOCAL_MACHINE to HKEY_CURRENT_USER (so that
// HKLM\Software\Classes lands in the user's classes as well), for every
// thread of the process; the destructor restores what it redirected. Both or
// neither: applied() is true only when both took. The override takes a real
// key handle (a predefined one fails with ERROR_INVALID_HANDLE, measured on
// Wine), hence RegOpenCurrentUser; the system keeps its own reference, so the
// handles are closed at once.
class UserClassesRedirect {
public:
    explicit UserClassesRedirect(const RegistryRedirectEntries& entries) noexcept : entries_(entries)
    {
        SETUPSUP_ASSERT(entries.overridePredefKey && entries.openCurrentUser);
        unique_hkey user;
        if (entries.openCurrentUser(KEY_ALL_ACCESS, user.put()) != ERROR_SUCCESS)
            return;
        unique_hkey classes;
        if (::RegCreateKeyExA(user.get(), "Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, classes.put(),
                              nullptr) != ERROR_SUCCESS)
            return;
        classes_ = entries.overridePredefKey(HKEY_CLASSES_ROOT, classes.get()) == ERROR_SUCCESS;
        machine_ = classes_ && entries.overridePredefKey(HKEY_LOCAL_MACHINE, user.get()) == ERROR_SUCCESS;
    }
    ~UserClassesRedirect()
    {
        if (machine_)
            entries_.overridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (classes_)
            entries_.overridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    UserClassesRedirect(const UserClassesRedirect&) = delete;
    UserClassesRedirect& operator=(const UserClassesRedirect&) = delete;
    bool applied() const { return machine_; }

private:
    const RegistryRedirectEntries& entries_;
    bool classes_ = false;
    bool machine_ = false;
};

// The per-user call: the file (un)registered with the machine's classes
// redirected to the user's, one such call of the process at a time. The
// type-library calls are redirected too: Wine's RegisterTypeLibForUser writes
// the machine's classes otherwise; on Windows the redirect changes nothing
// for them. Without the redirect (the Windows 95 family, NT 4.0) nothing is
// written.
template <typename Char>
int CarryForUser(const Char* path, bool typeLibrary, Direction direction, const AutomationEntries& automation)
{
    RegistryRedirectEntries entries;
    if (!ResolveRegistryRedirectEntries(&entries))
        return kPerUserUnavailable;
    ProcessTurn turn(g_redirectHeld);
    UserClassesRedirect redirect(entries);
    if (!redirect.applied())
        return kPerUserUnavailable;
    return Carry(path, typeLibrary, Operation{direction, Scope::kUser}, automation);
}

// Registers or unregisters the file named path. OLE is initialised first,
// for a module as for a type library, so a null path fails only after that,
// as a module that cannot be loaded.
template <typename Char>
int SelfRegistration(const Char* path, Operation op)
{
    const bool typeLibrary = path && IsTypeLibraryName(path);
    if (!EnsureOleInitialised())
        return kOleInitFailed;
    if (!path)
        return kModuleNotLoaded;
    AutomationEntries automation;
    ResolveAutomationEntries(&automation);
    if (op.scope == Scope::kUser)
        return CarryForUser(path, typeLibrary, op.direction, automation);
    return Carry(path, typeLibrary, op, automation);
}

// A file whose name cannot reach the system (on the Windows 95 family, a W
// path without an exact ANSI form): after OLE, as the file its name says it
// is that cannot be loaded; for the user, first as a call without the
// redirect.
int RefuseUnnamedFile(const wchar_t* path, Operation op)
{
    const bool typeLibrary = IsTypeLibraryName(path);
    if (!EnsureOleInitialised())
        return kOleInitFailed;
    RegistryRedirectEntries entries;
    if (op.scope == Scope::kUser && !ResolveRegistryRedirectEntries(&entries))
        return kPerUserUnavailable;
    return typeLibrary ? kTypeLibNotLoaded : kModuleNotLoaded;
}

// The W exports: on the Windows 95 family a path without an exact ANSI form
// names a file that cannot be loaded, of the kind its name says.
int WideSelfRegistration(const wchar_t* path, Operation op)
{
    return WideCall([path, op](const char*) { return RefuseUnnamedFile(path, op); },
                    [op](auto name) { return SelfRegistration(name, op); }, path);
}

constexpr Operation kMachineRegister{Direction::kRegister, Scope::kMachine};
constexpr Operation kMachineUnregister{Direction::kUnregister, Scope::kMachine};
constexpr Operation kUserRegister{Direction::kRegister, Scope::kUser};
constexpr Operation kUserUnregister{Direction::kUnregister, Scope::kUser};

} // namespace
} // namespace setupsup

extern "C" SETUPSUP_API int WINAPI SelfRegisterFile(const char* path)
{
    return setupsup::SelfRegistration(path, setupsup::kMachineRegister);
}

extern "C" SETUPSUP_API int WINAPI SelfRegisterFileW(const wchar_t* path)
{
    return setupsup::WideSelfRegistration(path, setupsup::kMachineRegister);
}

extern "C" SETUPSUP_API int WINAPI SelfUnregisterFile(const char* path)
{
    return setupsup::SelfRegistration(path, setupsup::kMachineUnregister);
}

extern "C" SETUPSUP_API int WINAPI SelfUnregisterFileW(const wchar_t* path)
{
    return setupsup::WideSelfRegistration(path, setupsup::kMachineUnregister);
}

extern "C" SETUPSUP_API int WINAPI SelfRegisterFileForUser(const char* path)
{
    return setupsup::SelfRegistration(path, setupsup::kUserRegister);
}

extern "C" SETUPSUP_API int WINAPI SelfRegisterFileForUserW(const wchar_t* path)
{
    return setupsup::WideSelfRegistration(path, setupsup::kUserRegister);
}

extern "C" SETUPSUP_API int WINAPI SelfUnregisterFileForUser(const char* path)
{
    return setupsup::SelfRegistration(path, setupsup::kUserUnregister);
}

extern "C" SETUPSUP_API int WINAPI SelfUnregisterFileForUserW(const wchar_t* path)
{
    return setupsup::WideSelfRegistration(path, setupsup::kUserUnregister);
}
