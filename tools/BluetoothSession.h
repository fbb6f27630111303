// What the `quorlink bt` commands and the demo share: the provider (on this
// system the virtual radio, said so on standard error), this process's radio,
// and address text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/posix/VirtualRadio.h"

namespace quorlink::tools {

class BluetoothSession {
 public:
  // Chooses the virtual radio; with makeRadio, creates this process's radio
  // (the given address, else the first free one of a small range).
  BluetoothSession(const std::string& directory, bool makeRadio,
                   std::optional<std::uint64_t> address, const std::string& name);
  std::uint64_t Address() const { return radio_ ? radio_->Address() : 0; }

 private:
  std::unique_ptr<platform::posix::vradio::Radio> radio_;
};

std::string AddressText(std::uint64_t address);
std::optional<std::uint64_t> ParseAddress(const std::string& text);

}  // namespace quorlink::tools
