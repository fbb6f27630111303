#include <mutex>

#include "platform/BluetoothApi.h"

namespace quorlink::platform {

namespace {
ApiSlot<IBluetoothApi> bluetoothSlot;
std::mutex pickerMutex;
DevicePicker picker;

}  // namespace

IBluetoothApi& BluetoothApi() {
  return bluetoothSlot.Get(OsBluetoothApi());
}
IBluetoothApi* SetBluetoothApi(IBluetoothApi* api) {
  return bluetoothSlot.Set(api);
}

DevicePicker SetDevicePicker(DevicePicker next) {
  std::lock_guard lock(pickerMutex);
  std::swap(picker, next);
  return next;
}

int PickDevice(const std::vector<BluetoothDeviceChoice>& devices) {
  DevicePicker current;
  {
    std::lock_guard lock(pickerMutex);
    current = picker;
  }
  return current ? current(devices) : TerminalDevicePicker(devices);
}

}  // namespace quorlink::platform
