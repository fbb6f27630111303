#include "platform/posix/BluetoothProvider.h"

#include "platform/virtual/VirtualRadio.h"
#include "platform/posix/bluez/Bluez.h"

namespace quorlink::platform::posix {

BluetoothProviderChoice ChooseBluetoothProvider() {
  if (vradio::Enabled()) return {BluetoothProviderKind::Virtual, "the virtual radio was asked for"};
  auto probe = bluez::Probe();
  if (probe.usable) return {BluetoothProviderKind::BlueZ, probe.reason};
  return {BluetoothProviderKind::None, probe.reason};
}

const char* BluetoothProviderName(BluetoothProviderKind kind) {
  switch (kind) {
    case BluetoothProviderKind::Virtual:
      return "virtual radio";
    case BluetoothProviderKind::BlueZ:
      return "BlueZ";
    default:
      return "none";
  }
}

}  // namespace quorlink::platform::posix
