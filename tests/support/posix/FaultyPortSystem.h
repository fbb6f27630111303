// The port listing's and watcher's system calls, rooted in a made-up tree:
// records calls, fails a chosen one (errno from the plan), and stands a
// socket pair in for the kernel's uevent socket, whose other end Send writes.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/PortSystem.h"
#include "support/FaultPlan.h"

namespace quorlink::testing {

class FaultyPortSystem final : public platform::posix::IPortSystem {
 public:
  FaultyPortSystem(FaultPlan& plan, std::string root)
      : plan_(plan), root_(std::move(root)), scope_(*this) {}
  ~FaultyPortSystem() override {
    if (kernel_ >= 0) ::close(kernel_);
  }

  std::string Root() override { return root_; }
  int socket(int, int, int) override {
    if (plan_.Hit("socket")) return Fail();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    if (kernel_ >= 0) ::close(kernel_);
    kernel_ = pair[1];
    ++open_;
    return pair[0];
  }
  int bind(int, const sockaddr*, socklen_t) override { return plan_.Hit("bind") ? Fail() : 0; }
  ssize_t recvmsg(int fd, msghdr* message, int flags) override {
    return plan_.Hit("recvmsg") ? Fail() : ::recvmsg(fd, message, flags);
  }
  int close(int fd) override {
    plan_.Hit("close");
    --open_;
    return ::close(fd);
  }
  int faccessat(int dir, const char* path, int mode, int flags) override {
    return plan_.Hit("faccessat") ? Fail() : ::faccessat(dir, path, mode, flags);
  }

  // One uevent from the "kernel": ACTION@DEVPATH, then the fields.
  void Send(const std::string& action, const std::string& subsystem, const std::string& name) {
    const std::string devpath = "/devices/x/" + subsystem + "/" + name;
    std::string m = action + "@" + devpath;
    for (const std::string& field :
         {"ACTION=" + action, "DEVPATH=" + devpath, "SUBSYSTEM=" + subsystem, "DEVNAME=" + name,
          std::string("SEQNUM=1")})
      m += std::string(1, '\0') + field;
    m += '\0';
    [[maybe_unused]] auto n = ::send(kernel_, m.data(), m.size(), 0);
  }
  // Uevent sockets opened and not yet closed.
  int Open() const { return open_; }

 private:
  int Fail() {
    errno = static_cast<int>(plan_.Error());
    return -1;
  }

  FaultPlan& plan_;
  std::string root_;
  int kernel_ = -1;
  int open_ = 0;
  platform::posix::ScopedPortSystem scope_;  // last: installed once all is set
};

}  // namespace quorlink::testing
