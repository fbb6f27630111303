#include "tools/BluetoothSession.h"

#include <cstdio>
#include <system_error>

#include "platform/posix/BthAddressText.h"
#include "tools/Host.h"
#include "tools/SystemBluetooth.h"

namespace quorlink::tools {

namespace vradio = platform::vradio;

namespace {
constexpr std::uint64_t kFirstCliRadio = 0x0000C0DE0001ull;
constexpr int kCliRadios = 64;
}  // namespace

BluetoothSession::BluetoothSession(const std::string& directory, bool makeRadio,
                                   std::optional<std::uint64_t> address, const std::string& name)
    : BluetoothSession(directory, makeRadio, address, name, ProviderRequest{}) {}

BluetoothSession::BluetoothSession(const std::string& directory, bool makeRadio,
                                   std::optional<std::uint64_t> address, const std::string& name,
                                   const ProviderRequest& request) {
  // A command that asks for the virtual radio never waits on the system.
  SystemBluetoothChoice choice;
  if (!request.virtualRadio) {
    choice = ChooseSystemBluetooth(request.bus);
    if (choice.usable) {
      system_ = true;
      std::fprintf(stderr, "quorlink: using %s (%s)\n", kSystemBluetoothName,
                   choice.reason.c_str());
      return;
    }
  }
  if (!directory.empty()) vradio::SetRendezvousDirectory(directory);
  vradio::Enable(true);
  std::fprintf(stderr, "quorlink: using the virtual radio (rendezvous %s): %s\n",
               vradio::RendezvousDirectory().c_str(),
               (request.virtualRadio
                    ? request.why
                    : std::string(kSystemBluetoothName) + " is not usable: " + choice.reason)
                   .c_str());
  if (!makeRadio) return;
  const std::string radioName = name.empty() ? "quorlink " + std::to_string(ProcessId()) : name;
  if (address) {
    radio_ = std::make_unique<vradio::Radio>(*address, radioName);
  } else {
    for (int i = 0; i < kCliRadios && !radio_; ++i) {
      try {
        radio_ = std::make_unique<vradio::Radio>(kFirstCliRadio + i, radioName);
      } catch (const std::system_error& e) {
        if (e.code().value() != EADDRINUSE) throw;
      }
    }
    if (!radio_) throw std::system_error(EADDRINUSE, std::generic_category(), "no free radio");
  }
  std::fprintf(stderr, "quorlink: this process's virtual radio is %s \"%s\"\n",
               AddressText(radio_->Address()).c_str(), radio_->Name().c_str());
}

std::string AddressText(std::uint64_t address) {
  return platform::posix::FormatBthAddressText(address, 0);
}

std::optional<std::uint64_t> ParseAddress(const std::string& text) {
  BTH_ADDR address = 0;
  ULONG port = 0;
  if (!platform::posix::ParseBthAddressText(text, address, port)) return std::nullopt;
  return address;
}

}  // namespace quorlink::tools
