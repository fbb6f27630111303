#include "platform/posix/SerialInputQueue.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorlink::platform::posix {

namespace {
// The most one terminal read returns: its line discipline's buffer less one.
constexpr std::size_t kTerminalRead = 4095;
}  // namespace

int SerialInputQueue::FillFrom(int fd) {
  const std::size_t capacity = buffer_.size();
  while (size_ < capacity) {
    const std::size_t tail = (head_ + size_) % capacity;
    const std::size_t room = std::min(capacity - size_, capacity - tail);
    const ssize_t r = ::read(fd, buffer_.data() + tail, room);
    if (r > 0) {
      size_ += static_cast<std::size_t>(r);
      // A terminal read returns at most what its line discipline holds
      // (4 KiB on Linux): a read that took that much leaves the device
      // refilling it, and reading on keeps a stream in large chunks. Any
      // other short read emptied the device.
      if (static_cast<std::size_t>(r) < std::min(room, kTerminalRead)) return 0;
      continue;
    }
    if (r == 0) return -1;
    if (errno == EINTR) continue;
    return errno == EAGAIN ? 0 : errno;
  }
  return 0;
}

std::size_t SerialInputQueue::Take(BYTE* out, std::size_t count) {
  const std::size_t capacity = buffer_.size();
  const std::size_t n = std::min(count, size_);
  const std::size_t first = std::min(n, capacity - head_);
  std::memcpy(out, buffer_.data() + head_, first);
  std::memcpy(out + first, buffer_.data(), n - first);
  head_ = (head_ + n) % capacity;
  size_ -= n;
  if (size_ == 0) head_ = 0;
  return n;
}

}  // namespace quorlink::platform::posix
