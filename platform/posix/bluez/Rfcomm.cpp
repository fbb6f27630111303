// Kernel RFCOMM sockets: the records of linux/bluetooth.h and rfcomm.h.
#include "platform/posix/bluez/Rfcomm.h"

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

int RfcommConnect(std::uint64_t local, std::uint64_t remote, std::uint32_t channel,
                  bool nonBlocking, int& fd) {
  if (int err = NewSocket(nonBlocking, fd)) return err;
  if (local != 0) {
    SockaddrRc a = Address(local, 0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return errno;
  }
  SockaddrRc a = Address(remote, channel);
  int r;
  do {
    r = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } while (r != 0 && errno == EINTR && !nonBlocking);
  return r == 0 ? 0 : errno;
}

}  // namespace quorlink::platform::posix::bluez
