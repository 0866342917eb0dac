// Owning wrappers for the Win32 resources the exports acquire, one type per
// kind of resource, each with its own invalid value and release function, so
// that acquisition and release are visible in one line:
//
//     unique_hfile file(CreateFileA(...));
//     if (!file) return -1;
//
// Move-only; release happens when the wrapper goes out of scope or on reset().
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdio>
#include <utility>

namespace setupsup {

// Traits: the value type, its invalid value and its release function.
template <typename Traits>
class unique_any {
    using T = typename Traits::type;
    static T Invalid() noexcept { return Traits::invalid(); }

public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    explicit operator bool() const noexcept { return value_ != Invalid(); }
    T get() const noexcept { return value_; }

    // Releases the current value (if any) and takes ownership of value.
    void reset(T value = Invalid()) noexcept
    {
        T old = std::exchange(value_, value);
        if (old != Invalid())
            Traits::close(old);
    }
    // Gives up ownership without releasing.
    [[nodiscard]] T release() noexcept { return std::exchange(value_, Invalid()); }
    // For out-parameters: releases the current value and returns its address.
    T* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    T value_ = Invalid();
};

namespace detail {
template <typename T, T (*Invalid)(), void (*Close)(T)>
struct handle_traits {
    using type = T;
    static T invalid() noexcept { return Invalid(); }
    static void close(T value) noexcept { Close(value); }
};
inline HANDLE invalid_handle_value() noexcept { return INVALID_HANDLE_VALUE; }
template <typename T>
T null_value() noexcept
{
    return nullptr;
}
inline void close_handle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void close_hkey(HKEY k) noexcept { ::RegCloseKey(k); }
inline void free_library(HMODULE m) noexcept { ::FreeLibrary(m); }
inline void local_free(HLOCAL l) noexcept { ::LocalFree(l); }
inline void delete_dc(HDC dc) noexcept { ::DeleteDC(dc); }
inline void close_file(FILE* f) noexcept { std::fclose(f); }
inline void release_typelib(ITypeLib* t) noexcept { t->Release(); }
template <typename T, void (*Close)(T)>
using null_traits = handle_traits<T, null_value<T>, Close>;
} // namespace detail

// A handle from CreateFileA or CreateToolhelp32Snapshot: invalid is INVALID_HANDLE_VALUE.
using unique_hfile = unique_any<detail::handle_traits<HANDLE, detail::invalid_handle_value, detail::close_handle>>;
// A kernel handle whose failure value is NULL (mappings, processes, events).
using unique_handle = unique_any<detail::null_traits<HANDLE, detail::close_handle>>;
using unique_hkey = unique_any<detail::null_traits<HKEY, detail::close_hkey>>;
using unique_hmodule = unique_any<detail::null_traits<HMODULE, detail::free_library>>;
using unique_hlocal = unique_any<detail::null_traits<HLOCAL, detail::local_free>>;
using unique_hdc = unique_any<detail::null_traits<HDC, detail::delete_dc>>;
using unique_file = unique_any<detail::null_traits<FILE*, detail::close_file>>;
// A type library object from LoadTypeLib.
using unique_typelib = unique_any<detail::null_traits<ITypeLib*, detail::release_typelib>>;

} // namespace setupsup
