// The one sd-bus connection to bluetoothd's bus, watched by the main loop like
// a socket: incoming calls (Profile1.NewConnection) and replies are handled
// inside the loop, never on a thread of its own. Main thread only.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <string>

namespace quorlink::platform::posix::bluez {

// Bounds every synchronous call: bluetoothd answers local calls at once.
constexpr std::uint64_t kLocalCallUsec = 2'000'000;

class Bus {
 public:
  static Bus& Instance();

  // Connects on first use. Null, with err an errno value, when the bus cannot
  // be reached.
  sd_bus* Get(int& err);
  // Drops the connection (a new address, or the bus went away).
  void Reset();
  // A synchronous method call bounded by kLocalCallUsec; 0 or an errno value.
  // The reply (owned by the caller) is left in *reply when asked for.
  int Call(sd_bus_message* call, sd_bus_message** reply, std::string* errorName,
           std::string* errorMessage = nullptr);
  // Counts connections made: objects exported on an older one are gone.
  std::uint64_t Generation() const { return generation_; }
  // Runs once whenever the connection is lost (bluetoothd or the bus gone).
  void OnLost(std::function<void()> handler) { onLost_ = std::move(handler); }

 private:
  Bus() = default;
  void Process();
  void Watch();
  void Lost();

  sd_bus* bus_ = nullptr;
  int fd_ = -1;
  int kick_ = -1;  // eventfd: work queued by a synchronous call
  std::uint32_t watching_ = 0;
  std::uint64_t generation_ = 0;
  std::function<void()> onLost_;
};

// sd-bus objects released on scope exit.
struct MessageRef {
  sd_bus_message* m = nullptr;
  MessageRef() = default;
  MessageRef(const MessageRef&) = delete;
  MessageRef& operator=(const MessageRef&) = delete;
  ~MessageRef() { sd_bus_message_unref(m); }
};

}  // namespace quorlink::platform::posix::bluez
