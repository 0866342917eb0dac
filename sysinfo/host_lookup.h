// The host-address lookup behind GetHostIPAddr, apart from the process-wide
// socket availability check: host name, resolution and dotted form, through
// the Windows Sockets entry points the call resolved (frame/system_entries.h).
#pragma once

#include <windows.h>

#include "frame/system_entries.h"
#include "setupsup.h"

namespace setupsup {

// Result codes of GetHostIPAddr.
constexpr int kHostAddressFound = SETUPSUP_HOST_OK;
constexpr int kHostAddressUnknown = SETUPSUP_HOST_UNKNOWN;
constexpr int kSocketsUnavailable = SETUPSUP_HOST_NO_SOCKETS;

constexpr WORD kSocketsVersion11 = 0x0101;
constexpr int kDottedAddressBytes = SETUPSUP_ADDRESS_SIZE; // "255.255.255.255" and its NUL

// Writes the local host's first IPv4 address in dotted form into address
// (at least 16 bytes) and returns kHostAddressFound, or leaves the empty
// string and returns kHostAddressUnknown. Every call of Windows Sockets is
// made with Windows Sockets started for it and cleaned up after; a step
// whose entry point is missing fails.
int ReportHostAddress(char* address, const SocketEntries& sockets);

} // namespace setupsup
