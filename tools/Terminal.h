// What the serial and Bluetooth terminals share: interrupts taken as a
// readable descriptor, and standard input written to the open link.
#pragma once

#include <atomic>

#include "core/QuorCustomTransport.h"

namespace quorlink::tools {

// Blocks SIGINT, SIGTERM and SIGHUP for the process's threads and delivers
// them through a descriptor instead, so no library thread is interrupted.
class SignalStop {
 public:
  SignalStop();
  ~SignalStop();
  SignalStop(const SignalStop&) = delete;
  SignalStop& operator=(const SignalStop&) = delete;
  int Fd() const { return fd_; }
  // Waits up to timeoutMs for a signal; true once one has come (it stays
  // pending, so every later call says so too).
  bool Raised(int timeoutMs) const;

 private:
  int fd_;
};

// Runs the message loop while an input thread writes standard input to the
// transport's first connection (on the main thread), until end of input, an
// interrupt or Application().Terminate(). Input waits while ready is false,
// so nothing typed before the link exists is lost. 1 when a write failed.
int RunTerminal(TQuorCustomTransport& transport, const SignalStop& stop,
                const std::atomic<bool>* ready = nullptr);

}  // namespace quorlink::tools
