// The program's standard input and output as a person uses them: text to
// read and keys to press (what a dialog shows where there is no display).
// Main thread only.
#pragma once

#include <string_view>

#include "quorlink/platform/ApiSlot.h"
#include "quorlink/platform/Types.h"

namespace quorlink::platform {

// ReadKey's results besides a key's byte.
constexpr int kConsoleWake = -1;  // the wake descriptor polled readable
constexpr int kConsoleEnd = -2;   // the input is closed or failed

class IConsole {
 public:
  virtual ~IConsole() = default;

  virtual bool InputIsTerminal() = 0;
  virtual void WriteOutput(std::string_view text) = 0;
  // Keys arrive one at a time and are not echoed until EndKeyInput; calls
  // pair up. Only meaningful when the input is a terminal.
  virtual void BeginKeyInput() = 0;
  virtual void EndKeyInput() = 0;
  // Waits for the next key's byte, or until wake (kNoPollHandle: none) is
  // ready: on POSIX a descriptor that polls readable, on Windows a signalled
  // handle.
  virtual int ReadKey(TPollHandle wake) = 0;
};

IConsole& Console();
IConsole& OsConsole();  // defined by the build's OS backend
IConsole* SetConsole(IConsole* api);
using ScopedConsole = ScopedApi<IConsole, SetConsole>;

}  // namespace quorlink::platform
