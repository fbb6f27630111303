// The public face of the virtual radio, the same on every OS.
#include "quorlink/bluetooth/QuorBluetoothProvider.h"
#include "platform/posix/BthAddressText.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink {

namespace vradio = platform::vradio;

void UseVirtualRadio(bool on, const std::string& rendezvousDirectory) {
  if (!rendezvousDirectory.empty()) vradio::SetRendezvousDirectory(rendezvousDirectory);
  vradio::Enable(on);
}

struct TQuorVirtualRadio::TRadio {
  vradio::Radio radio;
};

TQuorVirtualRadio::TQuorVirtualRadio(std::uint64_t address, const std::string& name)
    : radio_(new TRadio{vradio::Radio(address, name)}) {}

TQuorVirtualRadio::~TQuorVirtualRadio() = default;

std::uint64_t TQuorVirtualRadio::Address() const {
  return radio_->radio.Address();
}

std::string TQuorVirtualRadio::AddressText() const {
  return platform::posix::FormatBthAddressText(radio_->radio.Address(), 0);
}

}  // namespace quorlink
