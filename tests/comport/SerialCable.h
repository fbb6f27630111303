// A serial cable for the tests: the library's port at one end (PortPath, for
// BindComPort), a device end the test drives at the other. Each system has
// its own (posix/, windows/): a pty pair on POSIX, two COM ports joined
// outside the process on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorlink::testing {

class SerialCable {
 public:
  // Throws std::runtime_error when the system has no cable to give.
  SerialCable();
  ~SerialCable();
  SerialCable(const SerialCable&) = delete;
  SerialCable& operator=(const SerialCable&) = delete;

  // What to bind a COM number to.
  const std::string& PortPath() const;

  bool Write(const std::vector<std::uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }
  bool Write(const void* data, std::size_t size);
  // Reads until `count` bytes have come or the deadline passes.
  std::vector<std::uint8_t> Read(std::size_t count, int timeoutMs = 5000);

  // The device goes away; false when this cable cannot be unplugged.
  bool Unplug();
  // Sends `bytes` and sees them queued at the port before the library opens
  // it; false when they did not arrive.
  bool QueueAtPort(const std::vector<std::uint8_t>& bytes);
  // Whether a program other than this one could open the port now; nullopt
  // when this system lets every program open a port at any time.
  std::optional<bool> FreeForOthers();

  // Why a test of the system's serial driver cannot run over this cable, or
  // nullopt when it can. `fact`: "formats" (the device refuses character
  // formats it cannot carry, caught by the read-back); "uncoded rates" (the
  // device takes rates that have no termios speed code); "hardware flow"
  // (an RTS/CTS handshake reads back as set).
  static std::optional<std::string> Lacks(const std::string& fact);

 private:
  struct Ends;
  std::unique_ptr<Ends> ends_;
};

}  // namespace quorlink::testing
