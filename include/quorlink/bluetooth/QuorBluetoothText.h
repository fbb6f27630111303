/// @file
/// The radio and device names and the socket addresses of the Bluetooth
/// transport as 8-bit text.
#pragma once

#include <cstddef>
#include <string>

#include "quorlink/core/Export.h"
#include "quorlink/platform/BluetoothTypes.h"
#include "quorlink/platform/Types.h"

namespace quorlink {

/// Up to the first zero or max characters, UTF-16 to UTF-8.
QUORLINK_API std::string NarrowName(const WCHAR* text, std::size_t max);

/// The text form of a socket address, through the socket's protocol record as
/// the platform's conversion wants it; raises the OS error on failure.
QUORLINK_API std::string SocketAddressText(SOCKET socket, const SOCKADDR_BTH& addr);

}  // namespace quorlink
