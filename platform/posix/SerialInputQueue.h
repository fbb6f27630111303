// The port's input queue, as a serial driver keeps one: bytes are taken from
// the device as they come, so that a slow reader gets them in large chunks.
#pragma once

#include <cstddef>
#include <vector>

#include "quorlink/platform/Types.h"

namespace quorlink::platform::posix {

class SerialInputQueue {
 public:
  explicit SerialInputQueue(std::size_t capacity) : buffer_(capacity) {}

  std::size_t Size() const { return size_; }
  bool Full() const { return size_ == buffer_.size(); }
  void Clear() { head_ = size_ = 0; }
  // Reads from the descriptor until it has nothing more or the queue is
  // full. 0, or the errno value that ended it (-1: end of file).
  int FillFrom(int fd);
  // Moves up to `count` bytes out; the number moved.
  std::size_t Take(BYTE* out, std::size_t count);

 private:
  std::vector<BYTE> buffer_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace quorlink::platform::posix
