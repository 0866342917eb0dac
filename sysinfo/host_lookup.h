// The host-address lookup behind GetHostIPAddr, apart from the process-wide
// socket availability check: host name, resolution and dotted form, with
// every Windows Sockets entry point found through a lookup function so that
// the lookup can be replaced where the real host cannot produce a case.
#pragma once

#include <windows.h>

#include "setupsup.h"

// WSADATA of winsock.h and winsock2.h alike; includers pick the header.
struct WSAData;

namespace setupsup {

// Result codes of GetHostIPAddr.
constexpr int kHostAddressFound = SETUPSUP_HOST_OK;
constexpr int kHostAddressUnknown = SETUPSUP_HOST_UNKNOWN;
constexpr int kSocketsUnavailable = SETUPSUP_HOST_NO_SOCKETS;

// Windows Sockets 1.1, loaded by name and never imported.
inline constexpr char kSocketsLibrary[] = "wsock32.dll";
constexpr WORD kSocketsVersion11 = 0x0101;
using StartupFn = int(WINAPI*)(WORD version, WSAData* data);
constexpr int kDottedAddressBytes = SETUPSUP_ADDRESS_SIZE; // "255.255.255.255" and its NUL

// Finds a Windows Sockets entry point by name; null when it is missing.
using SocketEntryLookup = FARPROC (*)(const char* name);

// The entry point name of kSocketsLibrary, taken from the loaded module or
// loading it; the module stays loaded for the life of the process.
FARPROC LookUpSocketEntry(const char* name);

// Writes the local host's first IPv4 address in dotted form into address
// (at least 16 bytes) and returns kHostAddressFound, or leaves the empty
// string and returns kHostAddressUnknown. Every call of Windows Sockets is
// made with Windows Sockets started for it and cleaned up after.
int ReportHostAddress(char* address, SocketEntryLookup lookup);

} // namespace setupsup
