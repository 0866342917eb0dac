// The one shape of every W export. A W export passes its arguments to the
// template its ANSI twin shares (a generic lambda over it) through WideCall:
//
//     return WideCall(kAsNull, [](auto... a) { return ReadCount(a...); }, fileName);
//
// On the NT family the UTF-16 arguments go through unchanged. On the Windows
// 95 family, whose W functions are stubs that fail, each text argument
// (const wchar_t*) is converted to the ANSI code page exactly or not at all
// (AnsiText), each output buffer (Out<Room>) is an ANSI buffer of Room bytes
// widened into the caller's after the call (WidenAnsi), and the template is
// called with char text. A null text stays null; other arguments pass as
// they are. A text without an exact ANSI form would have become '?' or a
// look-alike, which names no file or another one: what the export gives for
// it is its refusal, named at the export:
//   kAsNull         the template called with that text null: the export's
//                   own result for a name that names nothing;
//   Refuse{code}    code, and nothing called;
//   any callable    called instead of the template with the converted
//                   arguments (each one without an exact form null), for a
//                   result per argument or one computed from them.
// A null the export refuses before any refusal of a name (CopyKeyW's 87
// before its 2) is checked at the export, before the call.
// The 64-bit DLL has no Windows 95-family path: the 64-bit build compiles
// none of it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>

#include "frame/ansi_fallback.h"

namespace setupsup {

// The refusal that calls the export's template with the text null.
struct AsNull {};
inline constexpr AsNull kAsNull{};

// The refusal with a fixed result.
struct Refuse {
    int code;
    template <typename... Ansi>
    int operator()(Ansi...) const noexcept
    {
        return code;
    }
};

// A W export's output text buffer of Room characters. Counted: the export
// returns the characters it wrote, so that on the Windows 95 family its
// result is the widened text's count (a failed call, 0, leaves the buffer
// as it was) rather than the ANSI text's bytes.
template <std::size_t Room, bool Counted>
struct OutText {
    wchar_t* text;
};

template <std::size_t Room>
constexpr OutText<Room, false> Out(wchar_t* text) noexcept
{
    return {text};
}

template <std::size_t Room>
constexpr OutText<Room, true> CountedOut(wchar_t* text) noexcept
{
    return {text};
}

namespace wide_call {

// An argument as the NT family's call takes it.
template <typename Arg>
Arg Wide(Arg arg) noexcept
{
    return arg;
}

template <std::size_t Room, bool Counted>
wchar_t* Wide(OutText<Room, Counted> out) noexcept
{
    return out.text;
}

template <typename Arg>
inline constexpr bool kUnsizedOutput = std::is_same_v<Arg, wchar_t*>;

#ifndef _WIN64
// An argument on its way to the ANSI call. Each is made in place as a
// parameter of AnsiCall and lives until the call's result is final.
// Anything that is no text: as it is.
template <typename Arg>
class AnsiArg {
public:
    explicit AnsiArg(Arg value) noexcept : value_(value) {}
    bool exact() const noexcept { return true; }
    Arg get() const noexcept { return value_; }
    int Finish(int result) const noexcept { return result; }

private:
    Arg value_;
};

// A text: converted exactly, or null for the call (and inexact).
template <>
class AnsiArg<const wchar_t*> {
public:
    explicit AnsiArg(const wchar_t* text) noexcept : text_(text) {}
    bool exact() const noexcept { return text_.exact(); }
    const char* get() const noexcept { return text_.get(); }
    int Finish(int result) const noexcept { return result; }

private:
    AnsiText text_;
};

// An output buffer: the call writes an ANSI buffer of the same room (null
// for a null buffer), which is widened into the caller's after it.
template <std::size_t Room, bool Counted>
class AnsiArg<OutText<Room, Counted>> {
public:
    static_assert(Room > 0 && Room <= 65536, "a buffer of the stack");
    explicit AnsiArg(OutText<Room, Counted> out) noexcept : out_(out.text) {}
    bool exact() const noexcept { return true; }
    char* get() noexcept { return out_ ? ansi_ : nullptr; }
    int Finish(int result) noexcept
    {
        if (!out_ || (Counted && result == 0))
            return result;
        const int written = WidenAnsi(ansi_, out_, static_cast<int>(Room));
        return Counted ? written : result;
    }

private:
    wchar_t* out_;
    char ansi_[Room] = {};
};

template <typename Refusal, typename Call, typename... Args>
int AnsiCall(const Refusal& refusal, const Call& call, AnsiArg<Args>... ansi) noexcept
{
    int result = 0;
    if constexpr (std::is_same_v<Refusal, AsNull>)
        result = call(ansi.get()...);
    else
        result = (ansi.exact() && ...) ? call(ansi.get()...) : refusal(ansi.get()...);
    ((result = ansi.Finish(result)), ...);
    return result;
}
#endif

} // namespace wide_call

// Calls the export's template with args, converted on the Windows 95 family
// as above; refusal is what the export gives there for a text without an
// exact ANSI form.
template <typename Refusal, typename Call, typename... Args>
int WideCall(const Refusal& refusal, const Call& call, Args... args) noexcept
{
    static_assert(!(wide_call::kUnsizedOutput<Args> || ...), "an output buffer is passed as Out<Room>(buffer)");
#ifndef _WIN64
    if (IsWindows95Family())
        return wide_call::AnsiCall<Refusal, Call, Args...>(refusal, call, wide_call::AnsiArg<Args>(args)...);
#else
    (void)refusal;
#endif
    return call(wide_call::Wide(args)...);
}

} // namespace setupsup
