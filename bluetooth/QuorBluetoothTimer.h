// A one-shot timer that posts a message to a window after a delay, from a
// thread of its own: it needs no descriptor, so it works when the process
// has none left. Main thread only; the message arrives on the main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "quorlink/platform/Messages.h"

namespace quorlink::bluetooth_detail {

class TQuorPostTimer {
 public:
  TQuorPostTimer() = default;
  ~TQuorPostTimer() { Cancel(); }
  TQuorPostTimer(const TQuorPostTimer&) = delete;
  TQuorPostTimer& operator=(const TQuorPostTimer&) = delete;

  // Replaces any earlier request. Raises what starting a thread raises.
  void Start(HWND window, UINT message, std::chrono::milliseconds delay);
  // No message is posted after this returns (one may already be queued).
  void Cancel();

 private:
  std::mutex mutex_;
  std::condition_variable cancelled_;
  bool cancel_ = false;
  std::thread thread_;
};

}  // namespace quorlink::bluetooth_detail
