#include "platform/posix/PortSystem.h"

#include <fcntl.h>
#include <unistd.h>

namespace quorlink::platform::posix {

namespace {

class OsBackend final : public IPortSystem {
 public:
  std::string Root() override { return {}; }
  int socket(int domain, int type, int protocol) override {
    return ::socket(domain, type, protocol);
  }
  int bind(int fd, const sockaddr* address, socklen_t size) override {
    return ::bind(fd, address, size);
  }
  ssize_t recvmsg(int fd, msghdr* message, int flags) override {
    return ::recvmsg(fd, message, flags);
  }
  int close(int fd) override { return ::close(fd); }
  int faccessat(int dirFd, const char* path, int mode, int flags) override {
    return ::faccessat(dirFd, path, mode, flags);
  }
};

ApiSlot<IPortSystem> slot;

}  // namespace

IPortSystem& OsPortSystem() {
  static OsBackend backend;
  return backend;
}
IPortSystem& PortSystem() {
  return slot.Get(OsPortSystem());
}
IPortSystem* SetPortSystem(IPortSystem* api) {
  return slot.Set(api);
}

}  // namespace quorlink::platform::posix
