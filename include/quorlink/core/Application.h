/// @file
/// The application object: the main thread's message loop, hidden windows and
/// the exception hook. Everything here runs on the main thread unless it says
/// otherwise.
///
/// The main thread is the first thread that enters the message loop
/// (ProcessMessages, HandleMessage, Run, Handle), opens or closes a transport
/// (Connect, Listen, Close), starts a TThread, or calls TThread::Synchronize
/// from outside a worker. From then on those entry points belong to it: in
/// builds without NDEBUG, calling one from another thread aborts with a message
/// naming the call. Which thread ran static initialisation does not matter.
#pragma once

#include <functional>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"
#include "quorlink/platform/Messages.h"

namespace quorlink {

/// The main thread's message loop; Application() gives the one object.
class QUORLINK_API TApplication {
 public:
  /// Handles every message waiting now, then returns.
  void ProcessMessages();
  /// Waits for one message (or Terminate) and handles it; false when
  /// terminated.
  bool HandleMessage();
  /// Handles messages until Terminate.
  void Run();
  /// Any thread: makes Run return after the current message.
  void Terminate();
  /// True after Terminate, until Reset.
  bool Terminated() const;
  /// Clears the terminated state so that Run can be called again.
  void Reset();
  /// Ready while messages may be waiting: drive the loop from another event
  /// loop by calling ProcessMessages when it is. On POSIX a descriptor that
  /// polls readable. On Windows an event handle, set whenever the library
  /// posts a message or wakes the loop; wait on it with
  /// MsgWaitForMultipleObjects(..., QS_ALLINPUT), which also wakes for what
  /// Windows itself posts to the library's windows (socket notifications).
  TPollHandle Handle() const;
  /// Any thread. True on the main thread; false everywhere while no thread has
  /// used the loop yet.
  bool IsMainThread() const;
};

/// Any thread. True on the main thread; the caller becomes the main thread
/// when no thread has used the loop yet.
QUORLINK_API bool ClaimMainThread();
/// Main-thread entry points call this: the first caller becomes the main
/// thread; in builds without NDEBUG another thread aborts, naming the entry.
QUORLINK_API void CheckMainThread(const char* entry);

/// The application object.
QUORLINK_API TApplication& Application();

/// A hidden window whose messages reach the method on the main thread. The
/// method should not raise; the transport classes stop their own exceptions.
QUORLINK_API HWND AllocateHWnd(TWndMethod method);
/// No further messages reach the window's method.
QUORLINK_API void DeallocateHWnd(HWND window);
/// Any thread. False when the window no longer exists.
QUORLINK_API bool PostWindowMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
/// PostWindowMessage. Inline: <windows.h> makes PostMessage a macro
/// (PostMessageA or PostMessageW by UNICODE), and each program finds the
/// spelling it sees. Call it qualified where the SDK's is also visible.
inline bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return PostWindowMessage(window, msg, wParam, lParam);
}

}  // namespace quorlink
