#include "tools/SystemBluetooth.h"

#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"

namespace quorlink::tools {

const char* const kSystemBluetoothName = "Windows Bluetooth";
const char* const kSystemBluetoothOptions = "";

void AddSystemBluetoothOptions(CLI::App&, std::string&) {}

// Usable when it has a radio: a machine without one (or Wine, whose radio
// search finds none) is served by the virtual radio instead.
SystemBluetoothChoice ChooseSystemBluetooth(const std::string&) {
  auto& api = platform::BluetoothApi();
  BLUETOOTH_FIND_RADIO_PARAMS params{sizeof params};
  HANDLE radio = nullptr;
  HBLUETOOTH_RADIO_FIND find = api.BluetoothFindFirstRadio(&params, &radio);
  if (find == nullptr) {
    const DWORD error = platform::Kernel().GetLastError();
    return {false, "no Bluetooth radio found (error " + std::to_string(error) + ")"};
  }
  platform::Kernel().CloseHandle(radio);
  api.BluetoothFindRadioClose(find);
  return {true, "a Bluetooth radio is present"};
}

}  // namespace quorlink::tools
