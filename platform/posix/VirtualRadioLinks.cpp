// Channels and links of the virtual radio: a listening channel is a Unix
// socket named after its radio and channel; a connecting socket is bound to a
// name that carries its own radio, which the listener reads back at accept.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/posix/VirtualRadio.h"
#include "platform/posix/VirtualRadioFiles.h"

namespace quorlink::platform::posix::vradio {

namespace {

std::string ChannelName(std::uint64_t radio, std::uint32_t channel) {
  return files::Hex48(radio) + "-" + std::to_string(channel);
}

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

bool RadioIsLive(const files::Rendezvous& dir, std::uint64_t radio) {
  return IsLocalRadio(radio) || files::IsLocked(dir, "r-" + files::Hex48(radio));
}

}  // namespace

ChannelClaim::~ChannelClaim() {
  if (lockFd_ < 0) return;
  const std::string name = ChannelName(address_, channel_);
  unlinkat(dir_->Fd(), ("s-" + name).c_str(), 0);
  files::ReleaseLockFile(*dir_, "k-" + name, lockFd_);
}

int BindChannel(int fd, std::uint64_t radio, std::uint32_t channel, ChannelClaim& claim) {
  if (claim.Held()) return EINVAL;
  if (!IsLocalRadio(radio)) return EADDRNOTAVAIL;
  const files::Dir dir = files::Directory();
  if (!dir) return ENETDOWN;
  const bool any = channel < kFirstChannel || channel > kLastChannel;
  const std::uint32_t first = any ? kFirstChannel : channel;
  const std::uint32_t last = any ? kLastChannel : channel;
  for (std::uint32_t ch = first; ch <= last; ++ch) {
    const std::string name = ChannelName(radio, ch);
    int lockFd = files::LockFile(*dir, "k-" + name);
    if (lockFd < 0) {
      if (errno == EWOULDBLOCK) continue;
      return errno;
    }
    sockaddr_un sun;
    int err = MakeUnixAddress(dir->SocketPath("s-" + name), sun);
    if (err == 0) {
      // Left by a process that ended without closing.
      unlinkat(dir->Fd(), ("s-" + name).c_str(), 0);
      if (bind(fd, reinterpret_cast<sockaddr*>(&sun), sizeof sun) != 0) err = errno;
    }
    if (err != 0) {
      files::ReleaseLockFile(*dir, "k-" + name, lockFd);
      return err;
    }
    claim.address_ = radio;
    claim.channel_ = ch;
    claim.lockFd_ = lockFd;
    claim.dir_ = dir;
    return 0;
  }
  return EADDRINUSE;
}

int ConnectChannel(int fd, std::uint64_t localRadio, std::uint64_t remoteRadio,
                   std::uint32_t channel) {
  const files::Dir dir = files::Directory();
  if (!dir) return ENETDOWN;
  if (!RadioIsLive(*dir, remoteRadio)) return EHOSTUNREACH;
  if (!IsBound(fd)) {
    static std::atomic<unsigned> sequence{0};
    const std::string name = "c-" + files::Hex48(localRadio) + "-" + std::to_string(getpid()) +
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
    files::ParseHex48(name.substr(2, 12), peerRadio);
  return 0;
}

}  // namespace quorlink::platform::posix::vradio
