// A device end (a pty's master, a test cable) read at a limited pace: a slow
// serial device that counts and keeps what it takes, until stopped or
// destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace quorlink::testing {

class SlowDevice {
 public:
  // Takes up to `chunk` bytes, then rests `pauseMs`, until stopped.
  template <class DeviceEnd>
  SlowDevice(DeviceEnd& pty, std::size_t chunk, int pauseMs)
      : thread_([this, &pty, chunk, pauseMs] {
          while (!stop_.load()) {
            auto got = pty.Read(chunk, 20);
            bytes_.insert(bytes_.end(), got.begin(), got.end());
            received_ += got.size();
            if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
          }
        }) {}
  ~SlowDevice() { Stop(); }
  SlowDevice(const SlowDevice&) = delete;
  SlowDevice& operator=(const SlowDevice&) = delete;

  std::size_t Received() const { return received_.load(); }
  // Everything read; stops the device.
  const std::vector<std::uint8_t>& Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return bytes_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> received_{0};
  std::vector<std::uint8_t> bytes_;  // the thread's until it has stopped
  std::thread thread_;
};

}  // namespace quorlink::testing
