#include "platform/virtual/VirtualRadioDevices.h"

#include <algorithm>

#include "platform/BluetoothRecords.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink::platform::vradio {

std::vector<BTH_ADDR> LocalRadioAddresses() {
  std::vector<BTH_ADDR> radios;
  for (const auto& r : LocalRadios()) radios.push_back(r.address);
  return radios;
}

DWORD LocalRadioInfo(BTH_ADDR address, BLUETOOTH_RADIO_INFO& info) {
  const auto name = RadioName(address);
  if (!name || !IsLocalRadio(address)) return ERROR_DEV_NOT_EXIST;
  FillRadioInfo(address, *name, info);
  return ERROR_SUCCESS;
}

BLUETOOTH_DEVICE_INFO DeviceInfo(BTH_ADDR address, bool connected) {
  BLUETOOTH_DEVICE_INFO info{};
  info.dwSize = sizeof info;
  info.Address.ullLong = address;
  info.fConnected = connected ? TRUE : FALSE;
  CopyBluetoothName(RadioName(address).value_or(""), info.szName);
  return info;
}

std::vector<BLUETOOTH_DEVICE_INFO> FindDevices(const BLUETOOTH_DEVICE_SEARCH_PARAMS& params,
                                               const std::vector<BTH_ADDR>& radios) {
  std::vector<BLUETOOTH_DEVICE_INFO> devices;
  auto listed = [&](BTH_ADDR a) {
    return std::any_of(devices.begin(), devices.end(),
                       [a](const auto& d) { return d.Address.ullLong == a; });
  };
  for (BTH_ADDR radio : radios) {
    if (params.fReturnConnected)
      for (BTH_ADDR peer : ConnectedDevices(radio))
        if (!listed(peer)) devices.push_back(DeviceInfo(peer, true));
    if (params.fReturnRemembered || params.fReturnUnknown)
      for (const auto& known : KnownRadios())
        if (known.address != radio && !listed(known.address))
          devices.push_back(DeviceInfo(known.address, false));
  }
  return devices;
}

std::vector<BluetoothDeviceChoice> DeviceChoices() {
  std::vector<BluetoothDeviceChoice> choices;
  for (const auto& r : KnownRadios()) choices.push_back({r.address, r.name});
  return choices;
}

}  // namespace quorlink::platform::vradio
