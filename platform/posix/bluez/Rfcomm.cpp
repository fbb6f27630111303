// Kernel RFCOMM sockets: the records of linux/bluetooth.h and rfcomm.h.
#include "platform/posix/bluez/Rfcomm.h"

#include <endian.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace quorlink::platform::posix::bluez {

namespace {

// struct sockaddr_rc: the address is stored least significant byte first.
struct SockaddrRc {
  sa_family_t family;
  std::uint8_t address[6];
  std::uint8_t channel;
};

SockaddrRc Address(std::uint64_t address, std::uint32_t channel) {
  SockaddrRc a{};
  a.family = kAfBluetooth;
  for (int i = 0; i < 6; ++i) a.address[i] = static_cast<std::uint8_t>(address >> (8 * i));
  a.channel = static_cast<std::uint8_t>(channel);
  return a;
}

int NewSocket(bool nonBlocking, int& fd) {
  fd = ::socket(kAfBluetooth, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0),
                kBtProtoRfcomm);
  return fd < 0 ? errno : 0;
}

// struct sockaddr_l2 of linux/l2cap.h; the PSM is little-endian.
struct SockaddrL2 {
  sa_family_t family;
  std::uint16_t psm;
  std::uint8_t address[6];
  std::uint16_t cid;
  std::uint8_t addressType;
};
constexpr int kBtProtoL2cap = 0;
constexpr std::uint16_t kSdpPsm = 1;

SockaddrL2 L2Address(std::uint64_t address, std::uint16_t psm) {
  SockaddrL2 a{};
  a.family = kAfBluetooth;
  a.psm = static_cast<std::uint16_t>(htole16(psm));
  for (int i = 0; i < 6; ++i) a.address[i] = static_cast<std::uint8_t>(address >> (8 * i));
  return a;
}

int Connect(int fd, const sockaddr* a, socklen_t length, bool nonBlocking) {
  int r;
  do {
    r = ::connect(fd, a, length);
  } while (r != 0 && errno == EINTR && !nonBlocking);
  return r == 0 ? 0 : errno;
}

class Kernel final : public KernelLinks {
 public:
  int Rfcomm(std::uint64_t local, std::uint64_t remote, std::uint32_t channel, bool nonBlocking,
             int& fd) override {
    if (int err = NewSocket(nonBlocking, fd)) return err;
    if (local != 0) {
      SockaddrRc a = Address(local, 0);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return errno;
    }
    SockaddrRc a = Address(remote, channel);
    return Connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a, nonBlocking);
  }
  int Sdp(std::uint64_t local, std::uint64_t remote, int& fd) override {
    fd = ::socket(kAfBluetooth, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, kBtProtoL2cap);
    if (fd < 0) return errno;
    if (local != 0) {
      SockaddrL2 a = L2Address(local, 0);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return errno;
    }
    SockaddrL2 a = L2Address(remote, kSdpPsm);
    return Connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a, true);
  }
};

ApiSlot<KernelLinks>& Slot() {
  static ApiSlot<KernelLinks> slot;
  return slot;
}

}  // namespace

int AnyChannel(std::uint64_t adapter, std::uint32_t& channel) {
  int fd = -1;
  if (int err = NewSocket(false, fd)) return err;
  SockaddrRc a = Address(adapter, 0);
  int err = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0) {
    err = errno;
  } else {
    socklen_t length = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) err = errno;
    channel = a.channel;
    if (err == 0 && channel == 0) err = EADDRINUSE;
  }
  close(fd);
  return err;
}

std::uint64_t RfcommLocalAddress(int fd) {
  SockaddrRc a{};
  socklen_t length = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0 || a.family != kAfBluetooth)
    return 0;
  std::uint64_t address = 0;
  for (int i = 5; i >= 0; --i) address = address << 8 | a.address[i];
  return address;
}

KernelLinks& Links() {
  static Kernel kernel;
  return Slot().Get(kernel);
}

KernelLinks* SetLinks(KernelLinks* links) {
  return Slot().Set(links);
}

}  // namespace quorlink::platform::posix::bluez
