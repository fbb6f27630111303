// What the `quorlink bt` commands and the demo share: the provider (the
// system's own stack where it can serve the command, else the virtual radio;
// said so on standard error), this process's radio, and address text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/virtual/VirtualRadio.h"

namespace quorlink::tools {

// How a command asks for its provider.
struct ProviderRequest {
  bool virtualRadio = true;       // --virtual, or a command the system cannot serve yet
  std::string bus;                // --bus (POSIX): the bus that serves org.bluez
  std::string why = "asked for";  // said when the virtual radio is taken on request
};

class BluetoothSession {
 public:
  BluetoothSession(const std::string& directory, bool makeRadio,
                   std::optional<std::uint64_t> address, const std::string& name,
                   const ProviderRequest& request);
  // Chooses the virtual radio; with makeRadio, creates this process's radio
  // (the given address, else the first free one of a small range).
  BluetoothSession(const std::string& directory, bool makeRadio,
                   std::optional<std::uint64_t> address, const std::string& name);
  std::uint64_t Address() const { return radio_ ? radio_->Address() : 0; }
  // The system's own stack serves the calls (see SystemBluetooth.h).
  bool SystemStack() const { return system_; }

 private:
  std::unique_ptr<platform::vradio::Radio> radio_;
  bool system_ = false;
};

std::string AddressText(std::uint64_t address);
std::optional<std::uint64_t> ParseAddress(const std::string& text);

}  // namespace quorlink::tools
