// setupsup-call's command line: parsing into a call (or --help, --list,
// --version), and the call itself with its output buffers and its report.
// Nothing here loads the DLL; main does, and only for a well-formed call.
#pragma once

#include <windows.h>

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "tools/setupsup-call/call_table.h"

namespace setupsup_call {

// Exit statuses.
constexpr int kExitCalled = 0;    // the export was called (whatever it returned)
constexpr int kExitNotCalled = 1; // setupsup.dll or the export could not be found
constexpr int kExitUsage = 2;     // the command line was refused

// The argument that passes a null string pointer.
constexpr wchar_t kNullArgument[] = L"-null";

struct Command {
    enum class Action { Help, List, Version, Call };
    Action action = Action::Help;
    const ExportSignature* signature = nullptr;
    // The input slots, in the export's argument order; outputs are filled in
    // by CallAndReport. A string argument is held as the system gave it
    // (UTF-16) in wideText, for an ANSI export too: CallAndReport converts
    // it to the ANSI code page for the call.
    std::array<Slot, kMaxParams> slots{};
};

// Parses the arguments after the program name, as the system gives them
// (UTF-16). On a usage error returns false and says in *error which
// argument is wrong and why.
bool ParseCommandLine(int argc, const wchar_t* const* argv, Command* command, std::wstring* error);

// A 32-bit integer in decimal or 0x hex, with an optional sign: from
// -2147483648 to 4294967295 (values above 2147483647 wrap, 0xFFFFFFFF is -1).
bool ParseInteger(const wchar_t* text, int* value);

// A registry root by its short or long name (HKCU, HKEY_CURRENT_USER, any
// case), or a handle value written as an integer.
bool ParseRoot(const wchar_t* text, HKEY* root);

// Text for one of the program's standard streams, so that whoever reads it
// reads it right: a console gets the UTF-16 text as it is; anything else (a
// pipe that a batch file's for /f reads, a file) gets it in the console's
// output code page, the one cmd decodes a program's output with (chcp
// 65001: UTF-8); with no console at all, in the OEM code page a console
// starts with. A character that code page lacks is written as the system's
// default character.
class TextWriter {
public:
    explicit TextWriter(std::FILE* stream);
    // Always in codePage, console or not.
    TextWriter(std::FILE* stream, UINT codePage);

    void Write(std::wstring_view text);
    // The text and a line end.
    void Line(std::wstring_view text);

private:
    std::FILE* stream_;
    HANDLE console_ = nullptr;
    UINT codePage_;
};

void PrintHelp(TextWriter& out);
// Every export with its arguments, one a line.
void PrintList(TextWriter& out);
void PrintVersion(TextWriter& out);

// Calls the export at entry with the command's inputs and with output
// buffers of the documented sizes, then prints "result=N" and one
// "NAME=VALUE" line per output to out. A buffer written past its documented
// size or left without its NUL is reported to err.
void CallAndReport(const Command& command, FARPROC entry, TextWriter& out, TextWriter& err);

} // namespace setupsup_call
