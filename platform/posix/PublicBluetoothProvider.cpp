// The public face of the provider choice on POSIX: the virtual radio, BlueZ
// or none.
#include "quorlink/bluetooth/QuorBluetoothProvider.h"
#include "platform/posix/BluetoothProvider.h"

namespace quorlink {

TQuorBluetoothProvider BluetoothProvider(std::string* reason) {
  using platform::posix::BluetoothProviderKind;
  auto choice = platform::posix::ChooseBluetoothProvider();
  if (reason) *reason = std::move(choice.reason);
  switch (choice.kind) {
    case BluetoothProviderKind::Virtual:
      return TQuorBluetoothProvider::VirtualRadio;
    case BluetoothProviderKind::BlueZ:
      return TQuorBluetoothProvider::BlueZ;
    default:
      return TQuorBluetoothProvider::None;
  }
}

}  // namespace quorlink
