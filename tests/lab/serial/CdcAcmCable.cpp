// The lab's serial cable: the library's port is the cdc_acm driver's
// /dev/ttyACM0, the device the USB gadget's /dev/ttyGS0 (serial.sh makes
// both); this replaces the pty cable in the lab's test program.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "lab/Lab.h"
#include "tests/comport/SerialCable.h"

namespace quorlink::testing {

namespace {
// A descriptor closed with its owner.
struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

void MakeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}
}  // namespace

struct SerialCable::Ends {
  std::string port = lab::Env("QUORLINK_LAB_PORT");
  Fd device;
  Fd holder;  // our own descriptor on the port, keeping input queued

  // The gadget's tty, opened again when an unplug has hung it up.
  int Device() {
    pollfd pfd{device.fd, 0, 0};
    if (device.fd >= 0 && (::poll(&pfd, 1, 0) == 0 || (pfd.revents & POLLHUP) == 0))
      return device.fd;
    if (device.fd >= 0) ::close(device.fd);
    device.fd = ::open(lab::Env("QUORLINK_LAB_DEVICE").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    // The gadget's tty starts cooked (echo, ONLCR): a device passes bytes as they are.
    if (device.fd >= 0) MakeRaw(device.fd);
    return device.fd;
  }
};

SerialCable::SerialCable() : ends_(std::make_unique<Ends>()) {
  if (ends_->port.empty() || ends_->Device() < 0)
    throw std::runtime_error("no lab serial gadget (QUORLINK_LAB_PORT, QUORLINK_LAB_DEVICE)");
  tcflush(ends_->device.fd, TCIOFLUSH);  // nothing of an earlier case's
}
SerialCable::~SerialCable() = default;

const std::string& SerialCable::PortPath() const {
  return ends_->port;
}

bool SerialCable::Write(const void* data, std::size_t size) {
  auto p = static_cast<const char*>(data);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (size > 0) {
    const ssize_t n = ::write(ends_->Device(), p, size);
    if (n > 0) {
      p += n;
      size -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pollfd pfd{ends_->Device(), POLLOUT, 0};
      ::poll(&pfd, 1, 50);
    }
  }
  return true;
}

std::vector<std::uint8_t> SerialCable::Read(std::size_t count, int timeoutMs) {
  std::vector<std::uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::uint8_t buf[4096];
  while (got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{ends_->Device(), POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(std::min<long>(left.count(), 100))) <= 0) continue;
    const ssize_t n = ::read(pfd.fd, buf, std::min(sizeof buf, count - got.size()));
    if (n > 0) got.insert(got.end(), buf, buf + n);
  }
  return got;
}

// The gadget leaves the bus: the cdc_acm port goes away as on an unplug.
bool SerialCable::Unplug() {
  std::ofstream udc(lab::Env("QUORLINK_LAB_GADGET") + "/UDC");
  udc << "\n";
  udc.flush();
  return udc.good();
}

bool SerialCable::QueueAtPort(const std::vector<std::uint8_t>& bytes) {
  if (ends_->holder.fd < 0) {
    ends_->holder.fd = ::open(PortPath().c_str(), O_RDWR | O_NOCTTY);
    if (ends_->holder.fd < 0) return false;
    MakeRaw(ends_->holder.fd);
  }
  int before = 0;
  if (ioctl(ends_->holder.fd, FIONREAD, &before) != 0 || !Write(bytes)) return false;
  for (int i = 0; i < 1000; ++i) {
    int queued = 0;
    if (ioctl(ends_->holder.fd, FIONREAD, &queued) == 0 &&
        static_cast<std::size_t>(queued) >= before + bytes.size())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::optional<bool> SerialCable::FreeForOthers() {
  Fd fd(::open(PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
  if (fd.fd < 0) return false;
  return flock(fd.fd, LOCK_EX | LOCK_NB) == 0;
}

std::optional<std::string> SerialCable::Lacks(const std::string& fact) {
  if (fact == "formats") return "the cdc_acm driver takes every character format";
  return std::nullopt;
}

}  // namespace quorlink::testing
