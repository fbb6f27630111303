/// @file
/// Hidden message windows and the main-thread message queue. On Windows these
/// are message-only windows pumped by GetMessage; on POSIX a window table, a
/// thread-safe queue and an epoll set.
#pragma once

#include <functional>

#include "quorlink/core/Export.h"
#include "quorlink/platform/ApiSlot.h"
#include "quorlink/platform/Types.h"

namespace quorlink {

/// The host's message record.
struct TMessage {
  UINT Msg;        ///< the message number
  WPARAM WParam;   ///< its first parameter
  LPARAM LParam;   ///< its second parameter
  LRESULT Result;  ///< the handler's answer
};

/// The procedure of a hidden window.
using TWndMethod = std::function<void(TMessage&)>;

namespace platform {

/// The message loop of the operating-system backend; TApplication and the
/// hidden windows run on it. A test may install another.
class QUORLINK_API IMessageLoop {
 public:
  virtual ~IMessageLoop() = default;

  /// Main thread only.
  virtual HWND AllocateWindow(TWndMethod proc) = 0;
  /// Main thread only. Messages still queued for the window are dropped.
  virtual void DeallocateWindow(HWND window) = 0;
  /// Any thread. False when the window does not exist.
  virtual BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  /// Main thread only. Handles at most one message, waiting up to timeout
  /// milliseconds (INFINITE: until one comes or Wake is called). True when a
  /// message was handled.
  virtual bool ProcessMessage(DWORD timeoutMs) = 0;
  /// Any thread. Makes a waiting ProcessMessage return.
  virtual void Wake() = 0;
  /// Ready while messages may be waiting, so that a program can drive the
  /// loop from its own event loop: on POSIX a descriptor that polls readable,
  /// on Windows an event handle to wait on with MsgWaitForMultipleObjects
  /// (see platform/Types.h).
  virtual TPollHandle Descriptor() = 0;
};

/// The loop in use: the installed one, else the backend's.
QUORLINK_API IMessageLoop& Messages();
QUORLINK_API IMessageLoop& OsMessages();  ///< defined by the build's OS backend
/// Installs a loop (nullptr: the backend's again); returns the previous one.
QUORLINK_API IMessageLoop* SetMessages(IMessageLoop* api);
/// Installs a loop for the lifetime of the object.
using ScopedMessages = ScopedApi<IMessageLoop, SetMessages>;

}  // namespace platform
}  // namespace quorlink
