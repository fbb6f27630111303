// The public face of the provider choice on Windows: the virtual radio when
// the program asked for it, else the system's Bluetooth when it has a radio.
#include "quorlink/bluetooth/QuorBluetoothProvider.h"
#include "quorlink/core/SysUtils.h"
#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink {

TQuorBluetoothProvider BluetoothProvider(std::string* reason) {
  std::string why;
  TQuorBluetoothProvider provider = TQuorBluetoothProvider::None;
  if (platform::vradio::Enabled()) {
    why = "the virtual radio was asked for";
    provider = TQuorBluetoothProvider::VirtualRadio;
  } else {
    BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    HANDLE radio = nullptr;
    auto& api = platform::BluetoothApi();
    HBLUETOOTH_RADIO_FIND find = api.BluetoothFindFirstRadio(&params, &radio);
    if (find != nullptr) {
      platform::Kernel().CloseHandle(radio);
      api.BluetoothFindRadioClose(find);
      why = "Windows has a Bluetooth radio";
      provider = TQuorBluetoothProvider::Windows;
    } else {
      const DWORD error = platform::Kernel().GetLastError();
      why = "Windows has no Bluetooth radio";
      if (error != ERROR_NO_MORE_ITEMS && error != ERROR_SUCCESS)
        why += " (error " + std::to_string(error) + ": " + SysErrorMessage(error) + ")";
    }
  }
  if (reason) *reason = std::move(why);
  return provider;
}

}  // namespace quorlink
