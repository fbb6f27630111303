#include "platform/posix/bluez/Bus.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/MainLoop.h"
#include "platform/posix/bluez/Bluez.h"

namespace quorlink::platform::posix::bluez {

Bus& Bus::Instance() {
  static Bus bus;
  return bus;
}

sd_bus* Bus::Get(int& err) {
  err = 0;
  if (bus_ != nullptr) return bus_;
  sd_bus* bus = nullptr;
  int r = 0;
  const std::string address = BusAddress();
  if (address.empty()) {
    r = sd_bus_open_system(&bus);
  } else {
    r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
  }
  if (r < 0) {
    sd_bus_flush_close_unref(bus);
    err = -r;
    return nullptr;
  }
  bus_ = bus;
  ++generation_;
  fd_ = sd_bus_get_fd(bus_);
  kick_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  PosixMainLoop().Watch(kick_, EPOLLIN, [this](std::uint32_t) {
    std::uint64_t n;
    [[maybe_unused]] auto got = read(kick_, &n, sizeof n);
    Process();
  });
  Watch();
  return bus_;
}

void Bus::Reset() {
  if (bus_ == nullptr) return;
  if (watching_ != 0) PosixMainLoop().Unwatch(fd_);
  PosixMainLoop().Unwatch(kick_);
  close(kick_);
  sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
  fd_ = kick_ = -1;
  watching_ = 0;
}

void Bus::Watch() {
  int events = sd_bus_get_events(bus_);
  std::uint32_t wanted = EPOLLIN;
  if (events > 0 && (events & POLLOUT)) wanted |= EPOLLOUT;
  if (wanted == watching_) return;
  if (watching_ == 0) {
    PosixMainLoop().Watch(fd_, wanted, [this](std::uint32_t) { Process(); });
  } else {
    PosixMainLoop().Modify(fd_, wanted);
  }
  watching_ = wanted;
}

void Bus::Process() {
  if (bus_ == nullptr) return;
  for (;;) {
    int r = sd_bus_process(bus_, nullptr);
    if (r < 0) {
      Lost();
      return;
    }
    if (r == 0) break;
    if (bus_ == nullptr) return;  // a handler dropped the connection
  }
  Watch();
}

void Bus::Lost() {
  Reset();
  if (onLost_) onLost_();
}

int Bus::Call(sd_bus_message* call, sd_bus_message** reply, std::string* errorName,
              std::string* errorMessage) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* answer = nullptr;
  int r = sd_bus_call(bus_, call, kLocalCallUsec, &error, &answer);
  if (r < 0 && errorName != nullptr && error.name != nullptr) *errorName = error.name;
  if (r < 0 && errorMessage != nullptr && error.message != nullptr) *errorMessage = error.message;
  sd_bus_error_free(&error);
  if (r >= 0 && reply != nullptr) {
    *reply = answer;
  } else {
    sd_bus_message_unref(answer);
  }
  // Calls that arrived while this one waited are queued inside sd-bus, where
  // the descriptor no longer shows them: let the loop handle them next.
  if (kick_ >= 0) {
    std::uint64_t one = 1;
    [[maybe_unused]] auto w = write(kick_, &one, sizeof one);
  }
  if (r < 0 && (r == -ECONNRESET || r == -ENOTCONN)) Lost();
  return r < 0 ? -r : 0;
}

}  // namespace quorlink::platform::posix::bluez
