// Which provider serves the Bluetooth calls of this process: the virtual radio
// when the program asked for it, else BlueZ when the system has it, else none.
#pragma once

#include <string>

namespace quorlink::platform::posix {

enum class BluetoothProviderKind { None, Virtual, BlueZ };

struct BluetoothProviderChoice {
  BluetoothProviderKind kind = BluetoothProviderKind::None;
  std::string reason;  // why this one, and why BlueZ is not usable when it is not
};

// Main thread. Asks BlueZ at most once per setting (see bluez::Probe).
BluetoothProviderChoice ChooseBluetoothProvider();
const char* BluetoothProviderName(BluetoothProviderKind kind);

}  // namespace quorlink::platform::posix
