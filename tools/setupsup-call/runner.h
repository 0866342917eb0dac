// setupsup-call's command line: parsing into a call (or --help, --list,
// --version), and the call itself with its output buffers and its report.
// Nothing here loads the DLL; main does, and only for a well-formed call.
#pragma once

#include <windows.h>

#include <array>
#include <cstdio>
#include <string>

#include "tools/setupsup-call/call_table.h"

namespace setupsup_call {

// Exit statuses.
constexpr int kExitCalled = 0;    // the export was called (whatever it returned)
constexpr int kExitNotCalled = 1; // setupsup.dll or the export could not be found
constexpr int kExitUsage = 2;     // the command line was refused

// The argument that passes a null string pointer.
constexpr char kNullArgument[] = "-null";

struct Command {
    enum class Action { Help, List, Version, Call };
    Action action = Action::Help;
    const ExportSignature* signature = nullptr;
    // The input slots, in the export's argument order; outputs are filled in
    // by CallAndReport.
    std::array<Slot, kMaxParams> slots{};
};

// Parses the arguments after the program name. On a usage error returns
// false and says in *error which argument is wrong and why.
bool ParseCommandLine(int argc, const char* const* argv, Command* command, std::string* error);

// A 32-bit integer in decimal or 0x hex, with an optional sign: from
// -2147483648 to 4294967295 (values above 2147483647 wrap, 0xFFFFFFFF is -1).
bool ParseInteger(const char* text, int* value);

// A registry root by its short or long name (HKCU, HKEY_CURRENT_USER, any
// case), or a handle value written as an integer.
bool ParseRoot(const char* text, HKEY* root);

void PrintHelp(std::FILE* out);
// Every export with its arguments, one a line.
void PrintList(std::FILE* out);
void PrintVersion(std::FILE* out);

// Calls the export at entry with the command's inputs and with output
// buffers of the documented sizes, then prints "result=N" and one
// "NAME=VALUE" line per output to out. A buffer written past its documented
// size or left without its NUL is reported to err.
void CallAndReport(const Command& command, FARPROC entry, std::FILE* out, std::FILE* err);

} // namespace setupsup_call
