// POSIX: a pty pair; the slave is the library's port, the master the device.
#include "tests/comport/SerialCable.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/PtyPair.h"

namespace quorlink::testing {

struct SerialCable::Ends {
  PtyPair pty;
  int holder = -1;  // our own descriptor on the slave, keeping input queued
  ~Ends() {
    if (holder >= 0) ::close(holder);
  }
};

SerialCable::SerialCable() : ends_(std::make_unique<Ends>()) {}
SerialCable::~SerialCable() = default;

const std::string& SerialCable::PortPath() const {
  return ends_->pty.SlavePath();
}

bool SerialCable::Write(const void* data, std::size_t size) {
  return ends_->pty.Write(data, size);
}

std::vector<std::uint8_t> SerialCable::Read(std::size_t count, int timeoutMs) {
  return ends_->pty.Read(count, timeoutMs);
}

bool SerialCable::Unplug() {
  ends_->pty.CloseMaster();
  return true;
}

bool SerialCable::QueueAtPort(const std::vector<std::uint8_t>& bytes) {
  if (ends_->holder < 0) {
    ends_->holder = ::open(PortPath().c_str(), O_RDWR | O_NOCTTY);
    if (ends_->holder < 0) return false;
    termios raw{};
    tcgetattr(ends_->holder, &raw);
    cfmakeraw(&raw);
    tcsetattr(ends_->holder, TCSANOW, &raw);
  }
  int before = 0;
  if (ioctl(ends_->holder, FIONREAD, &before) != 0 || !Write(bytes)) return false;
  for (int i = 0; i < 1000; ++i) {
    int queued = 0;
    if (ioctl(ends_->holder, FIONREAD, &queued) == 0 &&
        static_cast<std::size_t>(queued) >= before + bytes.size())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::optional<bool> SerialCable::FreeForOthers() {
  const int fd = ::open(PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

std::optional<std::string> SerialCable::Lacks(const std::string&) {
  return std::nullopt;
}

}  // namespace quorlink::testing
