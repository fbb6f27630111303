// The program's OS pieces: interrupts, standard input and output, temporary
// directories. tools/posix and tools/windows define them; the build picks one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorlink::tools {

// Takes Ctrl-C (and on POSIX SIGTERM and SIGHUP) for the program's lifetime
// instead of letting it end the process, so no library thread is cut off.
class SignalStop {
 public:
  SignalStop();
  ~SignalStop();
  SignalStop(const SignalStop&) = delete;
  SignalStop& operator=(const SignalStop&) = delete;
  // Waits up to timeoutMs (-1: for ever) for an interrupt; true once one has
  // come (it stays, so every later call says so too).
  bool Raised(int timeoutMs) const;
  // True when the stop is a request to end from outside (SIGTERM, SIGHUP; a
  // console close on Windows) rather than the user's Ctrl-C.
  bool EndRequested() const;
  std::intptr_t Native() const { return native_; }

 private:
  std::intptr_t native_;  // a signal descriptor or an event handle
};

// Standard input for the terminal's input thread. Cancel (any thread) ends
// a Wait, as an interrupt does.
class InputWaiter {
 public:
  enum Result { kInput, kStopped, kTimeout };
  explicit InputWaiter(const SignalStop& stop);
  ~InputWaiter();
  InputWaiter(const InputWaiter&) = delete;
  InputWaiter& operator=(const InputWaiter&) = delete;
  // Waits up to timeoutMs (-1: for ever) for input (only when withInput),
  // an interrupt or Cancel.
  Result Wait(bool withInput, int timeoutMs);
  // Reads what is there: bytes read, 0 at end of input, -1 on failure.
  long Read(std::uint8_t* buffer, std::size_t size);
  void Cancel();

 private:
  const SignalStop& stop_;
  std::intptr_t cancel_[2];
};

// Writes all bytes to standard output unbuffered; false when it fails.
bool WriteStandardOutput(const void* data, std::size_t size);
bool StandardInputIsTerminal();
unsigned long ProcessId();
// A new empty directory under the system's temporary folder; empty on failure.
std::string MakeTemporaryDirectory(const std::string& prefix);

}  // namespace quorlink::tools
