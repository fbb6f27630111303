// The virtual radio as the Bluetooth API shows it, the same on every OS: its
// radios are this process's virtual radios, its devices the radios of every
// process. The per-OS backends keep only their handles and their fallback to
// the system's own Bluetooth.
#pragma once

#include <string>
#include <vector>

#include "platform/BluetoothApi.h"
#include "quorlink/platform/BluetoothTypes.h"

namespace quorlink::platform::vradio {

// The addresses of this process's radios, oldest first.
std::vector<BTH_ADDR> LocalRadioAddresses();

// The record of a radio of this process; ERROR_DEV_NOT_EXIST when the
// address is not one (any more).
DWORD LocalRadioInfo(BTH_ADDR address, BLUETOOTH_RADIO_INFO& info);

// A device record for the radio with the address, named as its owner named it.
BLUETOOTH_DEVICE_INFO DeviceInfo(BTH_ADDR address, bool connected);

// What a device search on the radios finds, each device once: the peers
// linked to them when connected devices are asked for, then every other live
// radio when remembered or unknown ones are.
std::vector<BLUETOOTH_DEVICE_INFO> FindDevices(const BLUETOOTH_DEVICE_SEARCH_PARAMS& params,
                                               const std::vector<BTH_ADDR>& radios);

// What the device picker offers: every live radio.
std::vector<BluetoothDeviceChoice> DeviceChoices();

}  // namespace quorlink::platform::vradio
