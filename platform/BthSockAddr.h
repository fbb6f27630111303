// Bluetooth socket addresses as the Winsock calls take and give them, shared
// by every backend that serves AF_BTH sockets.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/Winsock.h"

namespace quorlink::platform {

inline constexpr int kBthAddressLength = static_cast<int>(sizeof(SOCKADDR_BTH));

// 0, or the Winsock error a call given this address fails with. The record
// is copied: a caller's buffer need not be aligned.
inline int ReadBthAddress(const SOCKADDR* name, int length, SOCKADDR_BTH& out) {
  if (name == nullptr || length < kBthAddressLength) return WSAEFAULT;
  std::memcpy(&out, name, sizeof out);
  return out.addressFamily == AF_BTH ? 0 : WSAEAFNOSUPPORT;
}

// 0, or WSAEFAULT with the length needed when the buffer is too small.
inline int WriteBthAddress(std::uint64_t radio, std::uint32_t channel, SOCKADDR* name,
                           int* length) {
  if (name == nullptr || length == nullptr || *length < kBthAddressLength) {
    if (length != nullptr) *length = kBthAddressLength;
    return WSAEFAULT;
  }
  SOCKADDR_BTH addr{};
  addr.addressFamily = AF_BTH;
  addr.btAddr = radio;
  addr.port = channel;
  std::memcpy(name, &addr, sizeof addr);
  *length = kBthAddressLength;
  return 0;
}

}  // namespace quorlink::platform
