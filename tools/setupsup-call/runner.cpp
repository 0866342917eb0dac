// setupsup-call's command line and call; see runner.h.
#include "tools/setupsup-call/runner.h"

#include <io.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

namespace setupsup_call {

namespace {

// Filled into the bytes after each output buffer, to see an export write
// past the size it documents.
constexpr unsigned char kGuardByte = 0xA5;
constexpr int kGuardBytes = 16;
// Room for the largest output buffer in bytes (UTF-16), and its guard.
constexpr int kOutputRoomBytes = kMaxTextOutChars * static_cast<int>(sizeof(wchar_t)) + kGuardBytes;

constexpr const wchar_t* KindName(ArgKind kind)
{
    switch (kind) {
        case ArgKind::Text:
            return L"string";
        case ArgKind::WideText:
            return L"wstring";
        case ArgKind::Integer:
            return L"integer";
        case ArgKind::Root:
            return L"root";
        case ArgKind::IntegerOut:
            return L"integer out";
        case ArgKind::TextOut:
            return L"string out";
        case ArgKind::WideTextOut:
            return L"wstring out";
    }
    return L"?";
}

struct RootName {
    const wchar_t* shortName;
    const wchar_t* longName;
    HKEY root;
};

// Not constexpr: the predefined roots are integer-to-pointer casts.
const RootName kRoots[] = {
    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {L"HKU", L"HKEY_USERS", HKEY_USERS},
    {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c; }

// Comparison without regard to the case of ASCII letters.
bool SameText(const wchar_t* a, const wchar_t* b)
{
    for (; *a && *b; ++a, ++b) {
        if (AsciiUpper(*a) != AsciiUpper(*b))
            return false;
    }
    return *a == *b;
}

int DigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    c = AsciiUpper(c);
    return c >= L'A' && c <= L'F' ? c - L'A' + 10 : 99;
}

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

// The argument names of signature, as "name name ..." for the messages.
std::wstring ArgumentList(const ExportSignature& signature)
{
    std::wstring names;
    for (const Param& param : signature.Params()) {
        if (!IsInput(param.kind))
            continue;
        names += names.empty() ? L"" : L" ";
        names += Widen(param.name);
    }
    return names.empty() ? L"no arguments" : names;
}

// Fills the slot of one input from its argument; false with *error set when
// the argument is not of the parameter's kind.
bool ParseInput(const ExportSignature& signature, const Param& param, size_t position, const wchar_t* text, Slot* slot,
                std::wstring* error)
{
    bool ok = true;
    const wchar_t* expected = L"";
    switch (param.kind) {
        case ArgKind::Text:
        case ArgKind::WideText:
            slot->wideText = std::wcscmp(text, kNullArgument) == 0 ? nullptr : text;
            break;
        case ArgKind::Integer:
            ok = ParseInteger(text, &slot->integer);
            expected = L"a 32-bit integer in decimal or 0x hex";
            break;
        case ArgKind::Root:
            ok = ParseRoot(text, &slot->root);
            expected = L"a registry root (HKCR, HKCU, HKLM, HKU, HKCC or a long name) or a handle value";
            break;
        default:
            break;
    }
    if (!ok) {
        *error = Widen(signature.name) + L": argument " + std::to_wstring(position) + L" (" + Widen(param.name) +
                 L") must be " + expected + L", not '" + text + L"'";
    }
    return ok;
}

// A string argument in the ANSI code page, as a program's ANSI command line
// would have carried it.
std::string AnsiOf(const wchar_t* text)
{
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string ansi(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), bytes, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(bytes - 1));
    return ansi;
}

// What an ANSI export wrote, in UTF-16 for the writer.
std::wstring WideOf(const char* ansi, size_t length)
{
    const int chars = ::MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(length), nullptr, 0);
    std::wstring wide(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
    if (chars > 0)
        ::MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(length), wide.data(), chars);
    return wide;
}

// The text an output buffer holds: up to its NUL within its documented
// characters (cut there, *terminated false, when it has none).
std::wstring OutputText(const Param& param, const unsigned char* buffer, bool* terminated)
{
    const size_t chars = static_cast<size_t>(param.bufferChars);
    if (param.kind == ArgKind::WideTextOut) {
        wchar_t text[kMaxTextOutChars];
        std::memcpy(text, buffer, chars * sizeof(wchar_t));
        const size_t length = wcsnlen(text, chars);
        *terminated = length < chars;
        return std::wstring(text, length);
    }
    const char* text = reinterpret_cast<const char*>(buffer);
    const size_t length = strnlen(text, chars);
    *terminated = length < chars;
    return WideOf(text, length);
}

} // namespace

TextWriter::TextWriter(std::FILE* stream) : stream_(stream)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode))
        console_ = handle;
    codePage_ = ::GetConsoleOutputCP();
    if (codePage_ == 0)
        codePage_ = ::GetOEMCP();
}

TextWriter::TextWriter(std::FILE* stream, UINT codePage) : stream_(stream), codePage_(codePage) {}

void TextWriter::Write(std::wstring_view text)
{
    if (text.empty())
        return;
    const int length = static_cast<int>(text.size());
    if (console_) {
        DWORD written = 0;
        ::WriteConsoleW(console_, text.data(), static_cast<DWORD>(length), &written, nullptr);
        return;
    }
    const int bytes = ::WideCharToMultiByte(codePage_, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::vector<char> encoded(static_cast<size_t>(bytes));
    ::WideCharToMultiByte(codePage_, 0, text.data(), length, encoded.data(), bytes, nullptr, nullptr);
    std::fwrite(encoded.data(), 1, encoded.size(), stream_);
    std::fflush(stream_);
}

// A console takes "\r\n"; a stream in text mode makes it of "\n".
void TextWriter::Line(std::wstring_view text)
{
    Write(text);
    Write(console_ ? L"\r\n" : L"\n");
}

bool ParseInteger(const wchar_t* text, int* value)
{
    const wchar_t* p = text;
    bool negative = *p == L'-';
    if (*p == L'-' || *p == L'+')
        ++p;
    unsigned base = 10;
    if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        base = 16;
        p += 2;
    }
    if (*p == L'\0')
        return false;
    const uint64_t limit = negative ? 0x80000000u : 0xFFFFFFFFu;
    uint64_t magnitude = 0;
    for (; *p; ++p) {
        int digit = DigitValue(*p);
        if (digit >= static_cast<int>(base))
            return false;
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > limit)
            return false;
    }
    uint32_t bits = static_cast<uint32_t>(negative ? (0 - magnitude) : magnitude);
    std::memcpy(value, &bits, sizeof bits); // two's complement: 0xFFFFFFFF is -1
    return true;
}

bool ParseRoot(const wchar_t* text, HKEY* root)
{
    for (const RootName& name : kRoots) {
        if (SameText(text, name.shortName) || SameText(text, name.longName)) {
            *root = name.root;
            return true;
        }
    }
    // Any other handle value is passed through, for tests of bad roots.
    int handle = 0;
    if (!ParseInteger(text, &handle))
        return false;
    // Sign-extended, as the system makes its predefined roots (HKCU is
    // 0x80000001 on x86 and 0xFFFFFFFF80000001 on x64).
    *root = reinterpret_cast<HKEY>(static_cast<LONG_PTR>(handle));
    return true;
}

bool ParseCommandLine(int argc, const wchar_t* const* argv, Command* command, std::wstring* error)
{
    *command = Command{};
    if (argc < 1) {
        *error = L"no export named (setupsup-call --help shows the usage)";
        return false;
    }
    const wchar_t* first = argv[0];
    bool help = SameText(first, L"--help") || SameText(first, L"-h") || SameText(first, L"/?");
    bool list = SameText(first, L"--list");
    bool version = SameText(first, L"--version");
    if (help || list || version) {
        command->action = help ? Command::Action::Help : list ? Command::Action::List : Command::Action::Version;
        if (argc == 1)
            return true;
        *error = std::wstring(first) + L" takes no arguments";
        return false;
    }
    const ExportSignature* signature = FindExport(first);
    if (!signature) {
        *error = first[0] == L'-'
                     ? std::wstring(L"unknown option '") + first + L"'"
                     : std::wstring(L"setupsup.dll has no export '") + first + L"' (setupsup-call --list shows them)";
        return false;
    }
    const size_t given = static_cast<size_t>(argc - 1);
    if (given != signature->InputCount()) {
        *error = Widen(signature->name) + L" takes " + std::to_wstring(signature->InputCount()) +
                 (signature->InputCount() == 1 ? L" argument" : L" arguments") + L" (" + ArgumentList(*signature) +
                 L"), not " + std::to_wstring(given);
        return false;
    }
    command->action = Command::Action::Call;
    command->signature = signature;
    size_t next = 1;
    for (size_t i = 0; i < signature->paramCount; ++i) {
        const Param& param = signature->params[i];
        if (!IsInput(param.kind))
            continue;
        if (!ParseInput(*signature, param, next, argv[next], &command->slots[i], error))
            return false;
        ++next;
    }
    return true;
}

void PrintHelp(TextWriter& out)
{
    out.Write(
        L"usage: setupsup-call EXPORT [ARGUMENT...]\n"
        L"       setupsup-call --list | --help | --version\n"
        L"\n"
        L"Calls one export of setupsup.dll, loaded from this program's own folder, with the\n"
        L"export's inputs in their order; the runner provides the output buffers. It prints\n"
        L"result=N and then NAME=VALUE for every output.\n"
        L"\n"
        L"  string    the argument as given, in the ANSI code page; -null passes a null pointer\n"
        L"  wstring   the argument as given, in UTF-16 (the W exports); -null as above\n"
        L"  integer   decimal or 0x hex, optionally signed (0xFFFFFFFF is -1)\n"
        L"  root      HKCR, HKCU, HKLM, HKU, HKCC or HKEY_CLASSES_ROOT etc. (any case)\n"
        L"\n"
        L"Export names are matched without regard to case. --list shows every export.\n"
        L"Exit status: 0 the export was called; 1 setupsup.dll or the export was not\n"
        L"found; 2 the command line was refused.\n");
}

void PrintList(TextWriter& out)
{
    for (const ExportSignature& signature : Exports()) {
        std::wstring line = Widen(signature.name);
        const wchar_t* separator = L" ->";
        for (const Param& param : signature.Params()) {
            if (IsInput(param.kind))
                line += L" " + Widen(param.name) + L":" + KindName(param.kind);
        }
        for (const Param& param : signature.Params()) {
            if (IsInput(param.kind))
                continue;
            line += separator + std::wstring(L" ") + Widen(param.name);
            separator = L"";
        }
        out.Line(line);
    }
}

void PrintVersion(TextWriter& out) { out.Line(L"setupsup-call " + Widen(SETUPSUP_VERSION_STRING)); }

void CallAndReport(const Command& command, FARPROC entry, TextWriter& out, TextWriter& err)
{
    const ExportSignature& signature = *command.signature;
    std::array<Slot, kMaxParams> slots = command.slots;
    std::array<std::string, kMaxParams> ansiTexts;
    std::array<int, kMaxParams> integers{};
    unsigned char texts[kMaxParams][kOutputRoomBytes];
    std::memset(texts, kGuardByte, sizeof texts);
    for (size_t i = 0; i < signature.paramCount; ++i) {
        const Param& param = signature.params[i];
        const size_t bufferBytes =
            static_cast<size_t>(param.bufferChars) * (param.kind == ArgKind::WideTextOut ? sizeof(wchar_t) : 1);
        if (param.kind == ArgKind::Text && slots[i].wideText) {
            ansiTexts[i] = AnsiOf(slots[i].wideText);
            slots[i].text = ansiTexts[i].c_str();
        } else if (param.kind == ArgKind::IntegerOut) {
            slots[i].integerOut = &integers[i];
        } else if (IsTextOutput(param.kind)) {
            std::memset(texts[i], 0, bufferBytes);
            slots[i].textOut = reinterpret_cast<char*>(texts[i]);
        }
    }

    int result = signature.invoke(entry, slots.data());

    out.Line(L"result=" + std::to_wstring(result));
    for (size_t i = 0; i < signature.paramCount; ++i) {
        const Param& param = signature.params[i];
        const std::wstring name = Widen(param.name);
        if (param.kind == ArgKind::IntegerOut)
            out.Line(name + L"=" + std::to_wstring(integers[i]));
        if (!IsTextOutput(param.kind))
            continue;
        bool terminated = true;
        out.Line(name + L"=" + OutputText(param, texts[i], &terminated));
        const std::wstring who = L"setupsup-call: " + Widen(signature.name);
        if (!terminated)
            err.Line(who + L" left " + name + L" without its NUL");
        const bool wide = param.kind == ArgKind::WideTextOut;
        const size_t bufferBytes = static_cast<size_t>(param.bufferChars) * (wide ? sizeof(wchar_t) : 1);
        for (size_t b = bufferBytes; b < bufferBytes + kGuardBytes; ++b) {
            if (texts[i][b] != kGuardByte) {
                err.Line(who + L" wrote past the " + std::to_wstring(param.bufferChars) +
                         (wide ? L" characters of " : L" bytes of ") + name);
                break;
            }
        }
    }
}

} // namespace setupsup_call
