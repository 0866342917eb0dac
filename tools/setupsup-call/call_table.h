// The signature of every export of setupsup.dll, as setupsup-call knows it:
// one table that drives the command-line parsing, --list and the call.
// Each entry takes its argument kinds from the export's PFN_ type in
// setupsup.h, so the table cannot disagree with the header.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <span>
#include <utility>

#include "setupsup.h"

namespace setupsup_call {

// What one argument of an export is, and how the runner fills it.
enum class ArgKind {
    Text,        // const char*: a command-line argument in the ANSI code page, or null for -null
    WideText,    // const wchar_t*: a command-line argument as the system gives it (UTF-16), or null
    Integer,     // int or DWORD: decimal or 0x hex
    Root,        // HKEY: HKCU, HKEY_CURRENT_USER, ... or a handle value
    IntegerOut,  // int*: an integer the runner provides and prints
    TextOut,     // char*: a buffer of the documented size the runner provides and prints
    WideTextOut, // wchar_t*: the same in characters
};

constexpr bool IsInput(ArgKind kind)
{
    return kind == ArgKind::Text || kind == ArgKind::WideText || kind == ArgKind::Integer || kind == ArgKind::Root;
}

constexpr bool IsTextOutput(ArgKind kind) { return kind == ArgKind::TextOut || kind == ArgKind::WideTextOut; }

// One argument slot as it is passed to the export: every argument is one
// machine word.
union Slot {
    const char* text;
    const wchar_t* wideText;
    int integer;
    HKEY root;
    int* integerOut;
    char* textOut;
    wchar_t* wideTextOut;
};

constexpr size_t kMaxParams = 4;
// The largest output buffer the runner gives an export: FindFileUsers'
// lines (its room is an argument: at most this).
constexpr int kMaxTextOutChars = 1024;

// One argument's name (as the header names it) and, for a text output, the
// characters of its buffer.
struct Param {
    const char* name = nullptr;
    ArgKind kind = ArgKind::Text;
    int bufferChars = 0;
};

// Calls the export at entry with the arguments in slots.
using Invoker = int (*)(FARPROC entry, const Slot* slots);

struct ExportSignature {
    const char* name;
    std::array<Param, kMaxParams> params;
    size_t paramCount;
    Invoker invoke;

    std::span<const Param> Params() const { return {params.data(), paramCount}; }
    size_t InputCount() const;
};

// Every export, in the order of the DLL's export table.
std::span<const ExportSignature> Exports();

// The export called name, compared without regard to case; null if none.
const ExportSignature* FindExport(const wchar_t* name);

// ---- How an entry is made from the export's PFN_ type ----------------------

// The kind of each argument type an export uses; any other type does not compile.
template <typename T>
struct KindOf;
template <>
struct KindOf<const char*> {
    static constexpr ArgKind value = ArgKind::Text;
};
template <>
struct KindOf<const wchar_t*> {
    static constexpr ArgKind value = ArgKind::WideText;
};
template <>
struct KindOf<wchar_t*> {
    static constexpr ArgKind value = ArgKind::WideTextOut;
};
template <>
struct KindOf<int> {
    static constexpr ArgKind value = ArgKind::Integer;
};
template <>
struct KindOf<DWORD> {
    static constexpr ArgKind value = ArgKind::Integer;
};
template <>
struct KindOf<HKEY> {
    static constexpr ArgKind value = ArgKind::Root;
};
template <>
struct KindOf<int*> {
    static constexpr ArgKind value = ArgKind::IntegerOut;
};
template <>
struct KindOf<char*> {
    static constexpr ArgKind value = ArgKind::TextOut;
};

// The slot's member of type T.
template <typename T>
T SlotAs(const Slot& slot);
template <>
inline const char* SlotAs(const Slot& slot)
{
    return slot.text;
}
template <>
inline const wchar_t* SlotAs(const Slot& slot)
{
    return slot.wideText;
}
template <>
inline wchar_t* SlotAs(const Slot& slot)
{
    return slot.wideTextOut;
}
template <>
inline int SlotAs(const Slot& slot)
{
    return slot.integer;
}
template <>
inline DWORD SlotAs(const Slot& slot)
{
    return static_cast<DWORD>(slot.integer); // 0xFFFFFFFF (INFINITE) is -1 in the slot
}
template <>
inline HKEY SlotAs(const Slot& slot)
{
    return slot.root;
}
template <>
inline int* SlotAs(const Slot& slot)
{
    return slot.integerOut;
}
template <>
inline char* SlotAs(const Slot& slot)
{
    return slot.textOut;
}

template <typename Fn>
struct ExportType;

template <typename... Args>
struct ExportType<int(WINAPI*)(Args...)> {
    using Fn = int(WINAPI*)(Args...);
    static constexpr size_t kArity = sizeof...(Args);
    static constexpr std::array<ArgKind, sizeof...(Args)> kKinds{KindOf<Args>::value...};

    static int Invoke(FARPROC entry, const Slot* slots)
    {
        return Call(entry, slots, std::index_sequence_for<Args...>{});
    }

    template <size_t... I>
    static int Call(FARPROC entry, const Slot* slots, std::index_sequence<I...>)
    {
        // Through void*: FARPROC is the generic entry-point type GetProcAddress gives.
        auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
        return fn(SlotAs<Args>(slots[I])...);
    }
};

// A table entry whose call and kinds come from Fn. A text output's name is
// given with the characters of its buffer; every other argument with 0. An
// entry whose names do not fit Fn does not compile (the table is built at
// compile time).
template <typename Fn>
consteval ExportSignature Entry(const char* name, std::initializer_list<std::pair<const char*, int>> names)
{
    using Type = ExportType<Fn>;
    ExportSignature entry{name, {}, Type::kArity, &Type::Invoke};
    if (names.size() != Type::kArity || Type::kArity > kMaxParams)
        throw "the argument names do not match the export's type";
    size_t i = 0;
    for (const auto& [paramName, chars] : names) {
        ArgKind kind = Type::kKinds[i];
        if (IsTextOutput(kind) != (chars > 0) || chars > kMaxTextOutChars)
            throw "an output buffer needs its size, and only an output buffer has one";
        entry.params[i++] = Param{paramName, kind, chars};
    }
    return entry;
}

} // namespace setupsup_call
