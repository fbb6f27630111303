// A pty pair as a serial cable: the slave is the port the library opens, the
// master plays the device. Header-only, so the demo can use it too.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorlink/platform/Serial.h"
#include "ComBinding.h"  // beside this file: the demo includes it by another path

namespace quorlink::testing {

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      throw std::runtime_error("cannot make a pty pair");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slavePath_ = name;
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }
  // The device goes away.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  bool Write(const std::vector<std::uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  bool Write(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const ssize_t r = ::write(master_, p, size);
      if (r < 0) return false;
      p += r;
      size -= static_cast<std::size_t>(r);
    }
    return true;
  }
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }

  // Reads until `count` bytes have come or the deadline passes.
  std::vector<std::uint8_t> Read(std::size_t count, int timeoutMs = 5000) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint8_t buf[65536];
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0 || (p.revents & POLLIN) == 0) break;
      const std::size_t want = std::min(sizeof buf, count - out.size());
      const ssize_t r = ::read(master_, buf, want);
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};

}  // namespace quorlink::testing
