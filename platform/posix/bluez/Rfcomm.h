// Kernel RFCOMM sockets (AF_BLUETOOTH), from the kernel's ABI. On a kernel
// without Bluetooth every call fails with EAFNOSUPPORT. Results are errno.
#pragma once

#include <cstdint>

#include "quorlink/platform/ApiSlot.h"

namespace quorlink::platform::posix::bluez {

// AF_BLUETOOTH and BTPROTO_RFCOMM of linux/bluetooth.h.
constexpr int kAfBluetooth = 31;
constexpr int kBtProtoRfcomm = 3;

// The channel Linux gives "any channel" on the adapter now: a socket bound
// to channel 0 and put to listen (the kernel picks there), then closed.
int AnyChannel(std::uint64_t adapter, std::uint32_t& channel);
// The adapter address of an RFCOMM socket (getsockname); 0 when it has none.
std::uint64_t RfcommLocalAddress(int fd);

// The links the endpoints make themselves; tests put links of their own in
// the kernel's place. fd is set whenever a socket was made, also on failure
// (the caller owns it); EINPROGRESS when non-blocking and under way.
class KernelLinks {
 public:
  virtual ~KernelLinks() = default;
  // An RFCOMM socket from the adapter (0: any) to the device's channel.
  virtual int Rfcomm(std::uint64_t local, std::uint64_t remote, std::uint32_t channel,
                     bool nonBlocking, int& fd) = 0;
  // A non-blocking L2CAP packet socket to the device's SDP server (PSM 1).
  virtual int Sdp(std::uint64_t local, std::uint64_t remote, int& fd) = 0;
};
KernelLinks& Links();
KernelLinks* SetLinks(KernelLinks* links);
using ScopedLinks = ScopedApi<KernelLinks, SetLinks>;

}  // namespace quorlink::platform::posix::bluez
