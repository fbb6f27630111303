// Background sending of what a closed Bluetooth link still had queued: the
// link's socket and its unsent bytes go to a thread of their own, which
// releases both when the bytes are sent, the peer fails, or nothing moves for
// the stall limit. Internal to the Bluetooth module; the public waiting call
// is declared in QuorBluetooth.h.
#pragma once

#include <chrono>
#include <cstddef>

#include "quorlink/core/QuorCustomTransport.h"
#include "quorlink/platform/BluetoothTypes.h"

namespace quorlink::bluetooth_detail {

// Takes over the socket (its notification request already cancelled) and
// bytes[from..]. Call on the main thread while the caller still holds a
// Winsock start-up: the drain takes a start-up of its own. Never raises; when
// no drain can be started the socket is closed at once.
void StartDrain(SOCKET socket, TQuorByteArray bytes, std::size_t from) noexcept;

// How long a drain waits without any byte leaving before it gives up.
// Returns the previous limit (tests shorten it).
std::chrono::milliseconds SetDrainStallLimit(std::chrono::milliseconds limit);

// Drains still sending.
std::size_t RunningDrains();

}  // namespace quorlink::bluetooth_detail
