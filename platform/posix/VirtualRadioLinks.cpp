#include "platform/posix/VirtualRadioLinks.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/posix/VirtualRadioRendezvous.h"

namespace quorlink::platform::vradio {

namespace {

int MakeUnixAddress(const std::string& path, sockaddr_un& sun) {
  std::memset(&sun, 0, sizeof sun);
  sun.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof sun.sun_path) return ENAMETOOLONG;
  std::memcpy(sun.sun_path, path.data(), path.size());
  return 0;
}

bool IsBound(int fd) {
  sockaddr_un sun{};
  socklen_t len = sizeof sun;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sun), &len) != 0) return false;
  return len > sizeof(sa_family_t);
}

}  // namespace

int BindChannel(int fd, std::uint64_t radio, std::uint32_t channel, ChannelClaim& claim) {
  return ClaimChannel(radio, channel, claim, [fd](ChannelClaim& held) {
    const store::Rendezvous& dir = *held.Directory();
    const std::string name = "s-" + ChannelName(held.Address(), held.Channel());
    sockaddr_un sun;
    if (int err = MakeUnixAddress(dir.SocketPath(name), sun)) return err;
    // Left by a process that ended without closing.
    unlinkat(dir.Fd(), name.c_str(), 0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sun), sizeof sun) != 0) return errno;
    held.RemoveOnRelease(name);
    return 0;
  });
}

int ConnectChannel(int fd, std::uint64_t localRadio, std::uint64_t remoteRadio,
                   std::uint32_t channel) {
  const store::Dir dir = store::Directory();
  if (!dir) return ENETDOWN;
  if (!RadioIsLive(remoteRadio)) return EHOSTUNREACH;
  if (!IsBound(fd)) {
    static std::atomic<unsigned> sequence{0};
    const std::string name = "c-" + store::Hex48(localRadio) + "-" + std::to_string(getpid()) +
                             "-" + std::to_string(sequence.fetch_add(1));
    sockaddr_un own;
    if (int err = MakeUnixAddress(dir->SocketPath(name), own)) return err;
    unlinkat(dir->Fd(), name.c_str(), 0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0) return errno;
    // The socket keeps its name for the peer after the file is gone.
    unlinkat(dir->Fd(), name.c_str(), 0);
  }
  sockaddr_un sun;
  if (int err = MakeUnixAddress(dir->SocketPath("s-" + ChannelName(remoteRadio, channel)), sun))
    return err;
  for (;;) {
    if (connect(fd, reinterpret_cast<sockaddr*>(&sun), sizeof sun) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == ENOENT) return ECONNREFUSED;
    return errno;
  }
}

int AcceptLink(int listenFd, bool nonBlocking, int& newFd, std::uint64_t& peerRadio) {
  sockaddr_un sun{};
  socklen_t len = sizeof sun;
  int fd;
  do {
    fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&sun), &len,
                 SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  newFd = fd;
  peerRadio = 0;
  std::string name(sun.sun_path, strnlen(sun.sun_path, sizeof sun.sun_path));
  name = name.substr(name.rfind('/') + 1);
  if (name.rfind("c-", 0) == 0 && name.size() >= 14)
    store::ParseHex48(name.substr(2, 12), peerRadio);
  return 0;
}

}  // namespace quorlink::platform::vradio
