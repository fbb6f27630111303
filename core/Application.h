// The application object: the main thread's message loop, hidden windows and
// the exception hook. Everything here runs on the main thread unless it says
// otherwise.
#pragma once

#include <functional>

#include "core/Classes.h"
#include "platform/Messages.h"

namespace quorlink {

class TApplication {
 public:
  // Handles every message waiting now, then returns.
  void ProcessMessages();
  // Waits for one message (or Terminate) and handles it; false when
  // terminated.
  bool HandleMessage();
  // Handles messages until Terminate.
  void Run();
  // Any thread: makes Run return after the current message.
  void Terminate();
  bool Terminated() const;
  // Clears the terminated state so that Run can be called again.
  void Reset();
  // Readable while messages may be waiting: drive the loop from another
  // event loop by calling ProcessMessages when it polls readable.
  int Handle() const;
  // True on the thread that runs the message loop (the first to use it).
  bool IsMainThread() const;
};

TApplication& Application();

// A hidden window whose messages reach the method on the main thread. The
// method should not raise; the transport classes stop their own exceptions.
HWND AllocateHWnd(TWndMethod method);
// No further messages reach the window's method.
void DeallocateHWnd(HWND window);
// Any thread. False when the window no longer exists.
bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace quorlink
