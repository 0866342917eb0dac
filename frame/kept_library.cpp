#include "frame/kept_library.h"

namespace setupsup {

static_assert(std::atomic<HMODULE>::is_always_lock_free, "a module handle is published without a lock");

HMODULE KeptLibrary::Get() noexcept
{
    HMODULE module = module_.load(std::memory_order_acquire);
    if (module)
        return module;
    HMODULE loaded = ::LoadLibraryA(fileName_);
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
