#include "bluetooth/QuorBluetoothTimer.h"

#include "quorlink/core/Application.h"

namespace quorlink::bluetooth_detail {

void TQuorPostTimer::Start(HWND window, UINT message, std::chrono::milliseconds delay) {
  Cancel();
  cancel_ = false;
  thread_ = std::thread([this, window, message, delay] {
    std::unique_lock lock(mutex_);
    if (cancelled_.wait_for(lock, delay, [this] { return cancel_; })) return;
    quorlink::PostMessage(window, message, 0, 0);
  });
}

void TQuorPostTimer::Cancel() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    cancel_ = true;
  }
  cancelled_.notify_all();
  thread_.join();
}

}  // namespace quorlink::bluetooth_detail
