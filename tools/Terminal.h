// What the serial and Bluetooth terminals share: standard input written to
// the open link while the message loop runs.
#pragma once

#include <atomic>

#include "core/QuorCustomTransport.h"
#include "tools/Host.h"

namespace quorlink::tools {

// Runs the message loop while an input thread writes standard input to the
// transport's first connection (on the main thread), until end of input, an
// interrupt or Application().Terminate(). Input waits while ready is false,
// so nothing typed before the link exists is lost. 1 when a write failed.
int RunTerminal(TQuorCustomTransport& transport, const SignalStop& stop,
                const std::atomic<bool>* ready = nullptr);

}  // namespace quorlink::tools
