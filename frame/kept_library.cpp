#include "frame/kept_library.h"

#include <cstring>

namespace setupsup {

namespace {

// The full path of fileName in the system folder (under WoW64 the 32-bit
// one, which the file system's redirection serves for a 32-bit process);
// false when the folder cannot be had or the path does not fit.
bool SystemFolderPath(const char* fileName, char (&path)[MAX_PATH])
{
    const UINT folder = ::GetSystemDirectoryA(path, MAX_PATH);
    const size_t name = std::strlen(fileName);
    if (folder == 0 || folder + 1 + name >= MAX_PATH)
        return false;
    path[folder] = '\\';
    std::memcpy(path + folder + 1, fileName, name + 1);
    return true;
}

// The altered search order: the DLL's own dependencies are looked for in
// its folder, the system folder, first, and never beside the program.
HMODULE LoadFromSystemFolder(const char* fileName)
{
    char path[MAX_PATH];
    if (!SystemFolderPath(fileName, path))
        return nullptr;
    return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

static_assert(std::atomic<HMODULE>::is_always_lock_free, "a module handle is published without a lock");

HMODULE KeptLibrary::Get() noexcept
{
    HMODULE module = module_.load(std::memory_order_acquire);
    if (module)
        return module;
    HMODULE loaded = LoadFromSystemFolder(fileName_);
    if (!loaded)
        return nullptr;
    HMODULE expected = nullptr;
    if (module_.compare_exchange_strong(expected, loaded, std::memory_order_acq_rel))
        return loaded;
    // Another caller published the module first. Both handles name the same
    // module: this call's extra reference goes back, the published one stays.
    ::FreeLibrary(loaded);
    return expected;
}

} // namespace setupsup
