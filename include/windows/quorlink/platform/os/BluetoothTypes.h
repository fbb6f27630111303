// Windows build: Winsock's Bluetooth family and name space and the Bluetooth
// API's records are the SDK's (see platform/Types.h).
#pragma once

#include "Types.h"

// clang-format off
#include <ws2bth.h>
#include <bluetoothapis.h>
// clang-format on

#include <cstdint>

namespace quorlink {

using ::AFPROTOCOLS;
using ::BLOB;
using ::BLUETOOTH_ADDRESS;
using ::BLUETOOTH_COD_PAIRS;
using ::BLUETOOTH_DEVICE_INFO;
using ::BLUETOOTH_DEVICE_SEARCH_PARAMS;
using ::BLUETOOTH_FIND_RADIO_PARAMS;
using ::BLUETOOTH_RADIO_INFO;
using ::BLUETOOTH_SELECT_DEVICE_PARAMS;
using ::BTH_ADDR;
using ::CHAR;
using ::CSADDR_INFO;
using ::HBLUETOOTH_DEVICE_FIND;
using ::HBLUETOOTH_RADIO_FIND;
using ::INT;
using ::LONG;
using ::PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK;
using ::PFN_DEVICE_CALLBACK;
using ::SOCKADDR;
using ::SOCKADDR_BTH;
using ::SOCKET;
using ::SOCKET_ADDRESS;
using ::SYSTEMTIME;
using ::UCHAR;
using ::USHORT;
using ::WSADATA;
using ::WSAPROTOCOL_INFOA;
using ::WSAPROTOCOLCHAIN;
using ::WSAQUERYSETA;
using ::WSAQUERYSETW;
using ::WSAVERSION;

using ::WSACOMPLETIONTYPE;
using ::WSAECOMPARATOR;
using ::WSAESETSERVICEOP;

// The SDP container node types, under the library's names.
enum NONECONTAINERTYPE : std::uint8_t { NODECONTAINERTYPESEQUENCE, NODECONTAINERTYPEAALERNATIVE };

}  // namespace quorlink

namespace quorlink::win32 {

// The SDK makes SOCK_STREAM and SOL_SOCKET macros; code built for every OS
// names these.
constexpr int kSockStream = SOCK_STREAM;
constexpr int kSolSocket = SOL_SOCKET;
using ::fd_set;

}  // namespace quorlink::win32
