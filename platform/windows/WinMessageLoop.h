// The Windows message loop: real message-only windows (HWND_MESSAGE) of one
// registered class, pumped with PeekMessage/DispatchMessage on the thread
// that made them (the main thread), and an event that wakes a wait.
#pragma once

#include <atomic>

#include "quorlink/platform/Messages.h"

namespace quorlink::platform::windows {

class WinMessageLoop final : public IMessageLoop {
 public:
  WinMessageLoop();
  ~WinMessageLoop() override;
  WinMessageLoop(const WinMessageLoop&) = delete;
  WinMessageLoop& operator=(const WinMessageLoop&) = delete;

  HWND AllocateWindow(TWndMethod proc) override;
  void DeallocateWindow(HWND window) override;
  BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool ProcessMessage(DWORD timeoutMs) override;
  void Wake() override;
  TPollHandle Descriptor() override { return event_; }

 private:
  bool DispatchOne();

  // Manual-reset: set by PostMessage and Wake, reset by ProcessMessage just
  // before it looks at the queue, so no post is missed between the two.
  HANDLE event_ = nullptr;
  std::atomic<bool> woken_{false};
};

WinMessageLoop& TheMessageLoop();

}  // namespace quorlink::platform::windows
