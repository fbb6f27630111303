// The serial demo's cable: a COM port the library opens, joined to a far end
// the demo drives as the device. On POSIX a pty pair; on Windows two COM
// ports joined outside the program (see README, "Windows").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorlink::tools {

class DemoCable {
 public:
  virtual ~DemoCable() = default;
  virtual unsigned PortNumber() const = 0;  // the COM port the library opens
  virtual std::string Describe() const = 0;
  virtual bool Write(const std::string& bytes) = 0;
  // Up to size bytes, waiting at most timeoutMs for them all.
  virtual std::vector<std::uint8_t> Read(std::size_t size, int timeoutMs) = 0;
};

// Null, with why, when this system offers no cable.
std::unique_ptr<DemoCable> OpenDemoCable(std::string& why);

}  // namespace quorlink::tools
