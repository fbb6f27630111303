// What the serial and Bluetooth terminals share: interrupts taken as a
// readable descriptor, and standard input written to the open link through
// a terminal session (maps, exit key, echo).
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "quorlink/core/QuorCustomTransport.h"
#include "tools/Host.h"
#include "tools/TerminalSession.h"

namespace quorlink::tools {

// Writes all of text to standard output; false when it cannot.
bool WriteScreen(const std::string& text);

// Runs the message loop while an input thread passes standard input through
// the session to the transport's first connection (on the main thread),
// until end of input, the exit key, an interrupt or Application().Terminate().
// Input waits while ready is false, so nothing typed before the link exists
// is lost. The caller makes the keyboard raw (RawKeyboard) before it tells
// the user how to leave. Port keys go to onCommand, on the main thread, after
// what was typed before them is written. 1 when a write failed.
int RunTerminal(TQuorCustomTransport& transport, TerminalSession& session, const SignalStop& stop,
                const std::atomic<bool>* ready = nullptr,
                const std::function<void(char)>& onCommand = {});

}  // namespace quorlink::tools
