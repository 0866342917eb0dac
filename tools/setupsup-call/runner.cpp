// setupsup-call's command line and call; see runner.h.
#include "tools/setupsup-call/runner.h"

#include <cctype>
#include <cstdint>
#include <cstring>

namespace setupsup_call {

namespace {

// Filled into the bytes after each output buffer, to see an export write
// past the size it documents.
constexpr unsigned char kGuardByte = 0xA5;
constexpr int kGuardBytes = 16;

constexpr const char* KindName(ArgKind kind)
{
    switch (kind) {
        case ArgKind::Text:
            return "string";
        case ArgKind::Integer:
            return "integer";
        case ArgKind::Root:
            return "root";
        case ArgKind::IntegerOut:
            return "integer out";
        case ArgKind::TextOut:
            return "string out";
    }
    return "?";
}

struct RootName {
    const char* shortName;
    const char* longName;
    HKEY root;
};

// Not constexpr: the predefined roots are integer-to-pointer casts.
const RootName kRoots[] = {
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {"HKU", "HKEY_USERS", HKEY_USERS},
    {"HKCC", "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

bool SameText(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
}

// The argument names of signature, as "name name ..." for the messages.
std::string ArgumentList(const ExportSignature& signature)
{
    std::string names;
    for (const Param& param : signature.Params()) {
        if (!IsInput(param.kind))
            continue;
        names += names.empty() ? "" : " ";
        names += param.name;
    }
    return names.empty() ? "no arguments" : names;
}

// Fills the slot of one input from its argument; false with *error set when
// the argument is not of the parameter's kind.
bool ParseInput(const ExportSignature& signature, const Param& param, size_t position, const char* text, Slot* slot,
                std::string* error)
{
    bool ok = true;
    const char* expected = "";
    switch (param.kind) {
        case ArgKind::Text:
            slot->text = std::strcmp(text, kNullArgument) == 0 ? nullptr : text;
            break;
        case ArgKind::Integer:
            ok = ParseInteger(text, &slot->integer);
            expected = "a 32-bit integer in decimal or 0x hex";
            break;
        case ArgKind::Root:
            ok = ParseRoot(text, &slot->root);
            expected = "a registry root (HKCR, HKCU, HKLM, HKU, HKCC or a long name) or a handle value";
            break;
        default:
            break;
    }
    if (!ok) {
        *error = std::string(signature.name) + ": argument " + std::to_string(position) + " (" + param.name +
                 ") must be " + expected + ", not '" + text + "'";
    }
    return ok;
}

} // namespace

bool ParseInteger(const char* text, int* value)
{
    const char* p = text;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (*p == '\0')
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

bool ParseRoot(const char* text, HKEY* root)
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
    *root = reinterpret_cast<HKEY>(static_cast<uintptr_t>(static_cast<uint32_t>(handle)));
    return true;
}

bool ParseCommandLine(int argc, const char* const* argv, Command* command, std::string* error)
{
    *command = Command{};
    if (argc < 1) {
        *error = "no export named (setupsup-call --help shows the usage)";
        return false;
    }
    const char* first = argv[0];
    bool help = SameText(first, "--help") || SameText(first, "-h") || SameText(first, "/?");
    bool list = SameText(first, "--list");
    bool version = SameText(first, "--version");
    if (help || list || version) {
        command->action = help ? Command::Action::Help : list ? Command::Action::List : Command::Action::Version;
        if (argc == 1)
            return true;
        *error = std::string(first) + " takes no arguments";
        return false;
    }
    const ExportSignature* signature = FindExport(first);
    if (!signature) {
        *error = first[0] == '-'
                     ? std::string("unknown option '") + first + "'"
                     : std::string("setupsup.dll has no export '") + first + "' (setupsup-call --list shows them)";
        return false;
    }
    const size_t given = static_cast<size_t>(argc - 1);
    if (given != signature->InputCount()) {
        *error = std::string(signature->name) + " takes " + std::to_string(signature->InputCount()) +
                 (signature->InputCount() == 1 ? " argument" : " arguments") + " (" + ArgumentList(*signature) +
                 "), not " + std::to_string(given);
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

void PrintHelp(std::FILE* out)
{
    std::fputs(
        "usage: setupsup-call EXPORT [ARGUMENT...]\n"
        "       setupsup-call --list | --help | --version\n"
        "\n"
        "Calls one export of setupsup.dll, loaded from this program's own folder, with the\n"
        "export's inputs in their order; the runner provides the output buffers. It prints\n"
        "result=N and then NAME=VALUE for every output.\n"
        "\n"
        "  string    the argument as given; -null passes a null pointer\n"
        "  integer   decimal or 0x hex, optionally signed (0xFFFFFFFF is -1)\n"
        "  root      HKCR, HKCU, HKLM, HKU, HKCC or HKEY_CLASSES_ROOT etc. (any case)\n"
        "\n"
        "Export names are matched without regard to case. --list shows every export.\n"
        "Exit status: 0 the export was called; 1 setupsup.dll or the export was not\n"
        "found; 2 the command line was refused.\n",
        out);
}

void PrintList(std::FILE* out)
{
    for (const ExportSignature& signature : Exports()) {
        std::fputs(signature.name, out);
        const char* separator = " ->";
        for (const Param& param : signature.Params()) {
            if (IsInput(param.kind))
                std::fprintf(out, " %s:%s", param.name, KindName(param.kind));
        }
        for (const Param& param : signature.Params()) {
            if (IsInput(param.kind))
                continue;
            std::fprintf(out, "%s %s", separator, param.name);
            separator = "";
        }
        std::fputc('\n', out);
    }
}

void PrintVersion(std::FILE* out) { std::fprintf(out, "setupsup-call %s\n", SETUPSUP_VERSION_STRING); }

void CallAndReport(const Command& command, FARPROC entry, std::FILE* out, std::FILE* err)
{
    const ExportSignature& signature = *command.signature;
    std::array<Slot, kMaxParams> slots = command.slots;
    std::array<int, kMaxParams> integers{};
    unsigned char texts[kMaxParams][kMaxTextOutBytes + kGuardBytes];
    std::memset(texts, kGuardByte, sizeof texts);
    for (size_t i = 0; i < signature.paramCount; ++i) {
        const Param& param = signature.params[i];
        if (param.kind == ArgKind::IntegerOut) {
            slots[i].integerOut = &integers[i];
        } else if (param.kind == ArgKind::TextOut) {
            std::memset(texts[i], 0, static_cast<size_t>(param.bufferBytes));
            slots[i].textOut = reinterpret_cast<char*>(texts[i]);
        }
    }

    int result = signature.invoke(entry, slots.data());

    std::fprintf(out, "result=%d\n", result);
    for (size_t i = 0; i < signature.paramCount; ++i) {
        const Param& param = signature.params[i];
        if (param.kind == ArgKind::IntegerOut)
            std::fprintf(out, "%s=%d\n", param.name, integers[i]);
        if (param.kind != ArgKind::TextOut)
            continue;
        const size_t size = static_cast<size_t>(param.bufferBytes);
        const char* text = reinterpret_cast<const char*>(texts[i]);
        const size_t length = strnlen(text, size);
        std::fprintf(out, "%s=%.*s\n", param.name, static_cast<int>(length), text);
        if (length == size)
            std::fprintf(err, "setupsup-call: %s left %s without its NUL\n", signature.name, param.name);
        for (size_t b = size; b < size + kGuardBytes; ++b) {
            if (texts[i][b] != kGuardByte) {
                std::fprintf(err, "setupsup-call: %s wrote past the %d bytes of %s\n", signature.name,
                             param.bufferBytes, param.name);
                break;
            }
        }
    }
    std::fflush(out);
}

} // namespace setupsup_call
