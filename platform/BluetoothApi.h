// The Windows Bluetooth API as the library calls it: radio and device
// enumeration and the device-selection dialog. Radio handles are kernel
// handles, closed with CloseHandle. Any thread, except that the device picker
// runs on the caller's thread and may block it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quorlink/platform/ApiSlot.h"
#include "quorlink/platform/BluetoothTypes.h"
#include "quorlink/platform/Types.h"

namespace quorlink::platform {

class IBluetoothApi {
 public:
  virtual ~IBluetoothApi() = default;

  // Null when there is no radio (last error ERROR_NO_MORE_ITEMS).
  virtual HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                        HANDLE* radio) = 0;
  virtual BOOL BluetoothFindNextRadio(HBLUETOOTH_RADIO_FIND find, HANDLE* radio) = 0;
  virtual BOOL BluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND find) = 0;
  // Returns ERROR_SUCCESS or an error code.
  virtual DWORD BluetoothGetRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) = 0;

  virtual HBLUETOOTH_DEVICE_FIND BluetoothFindFirstDevice(
      const BLUETOOTH_DEVICE_SEARCH_PARAMS* params, BLUETOOTH_DEVICE_INFO* info) = 0;
  virtual BOOL BluetoothFindNextDevice(HBLUETOOTH_DEVICE_FIND find,
                                       BLUETOOTH_DEVICE_INFO* info) = 0;
  virtual BOOL BluetoothFindDeviceClose(HBLUETOOTH_DEVICE_FIND find) = 0;

  // Shows the device picker; false when cancelled. The devices chosen stay
  // in params->pDevices until BluetoothSelectDevicesFree.
  virtual BOOL BluetoothSelectDevices(BLUETOOTH_SELECT_DEVICE_PARAMS* params) = 0;
  virtual BOOL BluetoothSelectDevicesFree(BLUETOOTH_SELECT_DEVICE_PARAMS* params) = 0;
};

IBluetoothApi& BluetoothApi();
IBluetoothApi& OsBluetoothApi();  // defined by the build's OS backend
IBluetoothApi* SetBluetoothApi(IBluetoothApi* api);
using ScopedBluetoothApi = ScopedApi<IBluetoothApi, SetBluetoothApi>;

// A device that a picker may offer.
struct BluetoothDeviceChoice {
  BTH_ADDR address = 0;
  std::string name;
};

// Returns the index of the chosen device, or -1 for none. The
// default lists them on the terminal and reads a number when standard input
// is a terminal, and cancels otherwise.
using DevicePicker = std::function<int(const std::vector<BluetoothDeviceChoice>& devices)>;
// Returns the previous picker; an empty one restores the default.
DevicePicker SetDevicePicker(DevicePicker picker);
int PickDevice(const std::vector<BluetoothDeviceChoice>& devices);
// The default picker, defined by the build's OS backend.
int TerminalDevicePicker(const std::vector<BluetoothDeviceChoice>& devices);

}  // namespace quorlink::platform
