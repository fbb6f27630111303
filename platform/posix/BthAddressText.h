// Winsock's text form of a Bluetooth socket address, for backends without a
// Bluetooth provider of their own: "(XX:XX:XX:XX:XX:XX)", the most significant
// byte first, with ":channel" in decimal when the record carries a channel.
// Every record with a 48-bit address converts to text and back unchanged.
#pragma once

#include <string>
#include <string_view>

#include "quorlink/platform/BluetoothTypes.h"

namespace quorlink::platform::posix {

// Parses "(XX:XX:XX:XX:XX:XX)" or the bare "XX:XX:XX:XX:XX:XX", either case,
// optionally followed by ":channel" (decimal, 1 to 4294967295, no leading
// zero). True and the address and channel (0 without a suffix) on success.
bool ParseBthAddressText(std::string_view text, BTH_ADDR& address, ULONG& port);

// The canonical text (upper case); empty when the address has bits above 48.
std::string FormatBthAddressText(BTH_ADDR address, ULONG port);

// WSAStringToAddressA for AF_BTH: fills a whole SOCKADDR_BTH and sets the
// length to 30. Returns 0 or the Winsock error: WSAEFAULT for a missing
// argument or a buffer shorter than 30 (the length then says 30), WSAEINVAL
// for another family or a malformed text.
int BthStringToAddress(const char* text, INT family, SOCKADDR* address, INT* addressLength);

// WSAAddressToStringA for AF_BTH. The length counts the terminating zero on
// success, and is the size needed when WSAEFAULT reports a short buffer.
// WSAEFAULT for a missing argument or a record shorter than 30, WSAEINVAL for
// another family or an address wider than 48 bits.
int BthAddressToString(const SOCKADDR* address, DWORD addressLength, char* text, DWORD* textLength);

}  // namespace quorlink::platform::posix
