// Serial ports coming and going on Linux: the kernel's uevent netlink socket,
// watched by the main loop. The kernel announces a tty before udev has given
// its node the final owner and mode, so an arrival waits (on a main-loop
// timer, for a bounded time) until the node may be opened.
#include <linux/netlink.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "platform/PortDevices.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/MainLoop.h"
#include "platform/posix/PortSystem.h"
#include "platform/posix/SysfsPorts.h"
#include "platform/posix/Uevent.h"

namespace quorlink::platform::posix {

namespace {

constexpr long kRetryMs = 20;
// About five seconds: then the port arrives anyway if its node exists (an
// open then says why it fails), and is forgotten if it does not.
constexpr int kRetries = 250;
// The kernel's uevent buffer is 2 KiB; a larger datagram is not one.
constexpr std::size_t kMessageSize = 8192;

class UeventWatch final : public IPortWatch {
 public:
  explicit UeventWatch(PortChanges changed) : changed_(std::move(changed)) {}
  ~UeventWatch() override {
    if (timer_ >= 0) {
      PosixMainLoop().Unwatch(timer_);
      ::close(timer_);
    }
    if (socket_ >= 0) {
      PosixMainLoop().Unwatch(socket_);
      PortSystem().close(socket_);
    }
  }
  UeventWatch(const UeventWatch&) = delete;
  UeventWatch& operator=(const UeventWatch&) = delete;

  bool Open() {
    socket_ = PortSystem().socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                  NETLINK_KOBJECT_UEVENT);
    if (socket_ < 0) return Failed();
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own events (udev's are group 2)
    if (PortSystem().bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      return Failed();
    timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timer_ < 0) return Failed();
    if (!PosixMainLoop().Watch(socket_, EPOLLIN, [this](std::uint32_t) { Read(); }) ||
        !PosixMainLoop().Watch(timer_, EPOLLIN, [this](std::uint32_t) { Retry(); }))
      return Failed();
    return true;
  }

 private:
  bool Failed() {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }

  void Read() {
    std::vector<PortChange> changes;
    char buffer[kMessageSize];
    for (;;) {
      sockaddr_nl sender{};
      iovec io{buffer, sizeof buffer};
      msghdr message{};
      message.msg_name = &sender;
      message.msg_namelen = sizeof sender;
      message.msg_iov = &io;
      message.msg_iovlen = 1;
      const ssize_t n = PortSystem().recvmsg(socket_, &message, MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == ENOBUFS) {
        // The kernel dropped events for us: what we know may be stale.
        changes.push_back({PortChange::kRescan, {}});
        continue;
      }
      if (n < 0) break;
      // Only the kernel speaks on group 1; anything else is ignored.
      if (message.msg_namelen == sizeof sender && sender.nl_pid != 0) continue;
      if ((message.msg_flags & MSG_TRUNC) != 0) continue;
      if (auto event = ParseUevent(buffer, static_cast<std::size_t>(n))) Handle(*event, changes);
    }
    ArmTimer();
    Deliver(changes);
  }

  void Handle(const Uevent& event, std::vector<PortChange>& changes) {
    if (event.subsystem != "tty" || event.devname.empty()) return;
    if (event.action == "add") {
      pending_[event.devname] = kRetries;
      Probe(event.devname, changes);
    } else if (event.action == "remove") {
      // One that never became ready goes without a word.
      if (pending_.erase(event.devname) == 0)
        changes.push_back({PortChange::kRemoved, Named("/dev/" + event.devname)});
    }
    // change, move and the rest leave the port as it was.
  }

  // Raises the arrival of a pending port once its node is ready.
  void Probe(const std::string& name, std::vector<PortChange>& changes) {
    auto it = pending_.find(name);
    if (it == pending_.end()) return;
    const NodeState node = ProbeNode(name);
    if (node == NodeState::kReady || (node == NodeState::kRefused && it->second <= 0)) {
      pending_.erase(it);
      if (auto port = DescribeTty(name)) changes.push_back({PortChange::kArrived, *port});
    } else if (--it->second < 0) {
      pending_.erase(it);
    }
  }

  void Retry() {
    std::uint64_t ticks;
    [[maybe_unused]] auto r = ::read(timer_, &ticks, sizeof ticks);
    std::vector<PortChange> changes;
    std::vector<std::string> names;
    for (const auto& [name, tries] : pending_) names.push_back(name);
    for (const auto& name : names) Probe(name, changes);
    ArmTimer();
    Deliver(changes);
  }

  void ArmTimer() {
    itimerspec period{};
    if (!pending_.empty()) {
      period.it_value.tv_nsec = kRetryMs * 1000000;
      period.it_interval = period.it_value;
    }
    ::timerfd_settime(timer_, 0, &period, nullptr);
  }

  // The last thing a callback does: the receiver may destroy this watch.
  void Deliver(const std::vector<PortChange>& changes) {
    if (changes.empty()) return;
    PortChanges changed = changed_;
    changed(changes);
  }

  static TQuorPortInfo Named(const std::string& path) {
    TQuorPortInfo port;
    port.Path = path;
    return port;
  }

  PortChanges changed_;
  int socket_ = -1;
  int timer_ = -1;
  // Announced ports whose node is not ready yet, with the retries left.
  std::map<std::string, int> pending_;
};

}  // namespace

}  // namespace quorlink::platform::posix

namespace quorlink::platform {

std::unique_ptr<IPortWatch> OsWatchPorts(PortChanges changed) {
  auto watch = std::make_unique<posix::UeventWatch>(std::move(changed));
  if (!watch->Open()) return nullptr;
  return watch;
}

}  // namespace quorlink::platform
