// Placeholder until the Bluetooth API and SDP walk are built for Windows:
// there is no radio, the picker chooses nothing, and a record walk fails
// with ERROR_NOT_SUPPORTED.
#include "platform/BluetoothApi.h"
#include "platform/SdpApi.h"

namespace quorlink::platform {

namespace {

class BluetoothApiStub final : public IBluetoothApi {
 public:
  HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS*,
                                                HANDLE*) override {
    ::SetLastError(ERROR_NO_MORE_ITEMS);
    return nullptr;
  }
  BOOL BluetoothFindNextRadio(HBLUETOOTH_RADIO_FIND, HANDLE*) override { return Fail(); }
  BOOL BluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND) override { return Fail(); }
  DWORD BluetoothGetRadioInfo(HANDLE, BLUETOOTH_RADIO_INFO*) override {
    return ERROR_NOT_SUPPORTED;
  }
  HBLUETOOTH_DEVICE_FIND BluetoothFindFirstDevice(const BLUETOOTH_DEVICE_SEARCH_PARAMS*,
                                                  BLUETOOTH_DEVICE_INFO*) override {
    ::SetLastError(ERROR_NO_MORE_ITEMS);
    return nullptr;
  }
  BOOL BluetoothFindNextDevice(HBLUETOOTH_DEVICE_FIND, BLUETOOTH_DEVICE_INFO*) override {
    return Fail();
  }
  BOOL BluetoothFindDeviceClose(HBLUETOOTH_DEVICE_FIND) override { return Fail(); }
  BOOL BluetoothSelectDevices(BLUETOOTH_SELECT_DEVICE_PARAMS*) override { return Fail(); }
  BOOL BluetoothSelectDevicesFree(BLUETOOTH_SELECT_DEVICE_PARAMS*) override { return TRUE; }

 private:
  static BOOL Fail() {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
};

class SdpStub final : public ISdp {
 public:
  BOOL BluetoothSdpEnumAttributes(BYTE*, ULONG, PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK,
                                  void*) override {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
};

}  // namespace

IBluetoothApi& OsBluetoothApi() {
  static BluetoothApiStub api;
  return api;
}

ISdp& OsSdp() {
  static SdpStub sdp;
  return sdp;
}

int TerminalDevicePicker(const std::vector<BluetoothDeviceChoice>&) {
  return -1;
}

}  // namespace quorlink::platform
