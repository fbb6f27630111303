// Kernel RFCOMM sockets (AF_BLUETOOTH), from the kernel's ABI. On a kernel
// without Bluetooth every call fails with EAFNOSUPPORT. Results are errno.
#pragma once

#include <cstdint>

namespace quorlink::platform::posix::bluez {

// AF_BLUETOOTH and BTPROTO_RFCOMM of linux/bluetooth.h.
constexpr int kAfBluetooth = 31;
constexpr int kBtProtoRfcomm = 3;

// The channel Linux gives "any channel" on the adapter now: a socket bound
// to channel 0 and put to listen (the kernel picks there), then closed.
int AnyChannel(std::uint64_t adapter, std::uint32_t& channel);
// A new RFCOMM socket from the adapter (0: any) to the device's channel;
// EINPROGRESS when non-blocking and under way. fd is set whenever the
// socket was made, also on failure (the caller owns it).
int RfcommConnect(std::uint64_t local, std::uint64_t remote, std::uint32_t channel,
                  bool nonBlocking, int& fd);

}  // namespace quorlink::platform::posix::bluez
