// The provider choice on Windows without the virtual radio: the system's
// Bluetooth when it lists a radio, none (with Windows' reason) otherwise.
#include <gtest/gtest.h>

#include <string>

#include "quorlink/bluetooth/QuorBluetoothProvider.h"
#include "quorlink/core/SysUtils.h"
#include "platform/BluetoothApi.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink::testing {
namespace {

// The system's radio search as a machine with one radio, or none, answers it.
class RadioSearchStub final : public platform::IBluetoothApi {
 public:
  explicit RadioSearchStub(DWORD error) : error_(error) {}
  int openSearches = 0;

  HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                HANDLE* radio) override {
    if (error_ != ERROR_SUCCESS || params == nullptr || params->dwSize != sizeof *params) {
      ::SetLastError(error_);
      return nullptr;
    }
    *radio = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ++openSearches;
    return reinterpret_cast<HBLUETOOTH_RADIO_FIND>(this);
  }
  BOOL BluetoothFindNextRadio(HBLUETOOTH_RADIO_FIND, HANDLE*) override { return FALSE; }
  BOOL BluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND find) override {
    if (find != reinterpret_cast<HBLUETOOTH_RADIO_FIND>(this)) return FALSE;
    --openSearches;
    return TRUE;
  }
  DWORD BluetoothGetRadioInfo(HANDLE, BLUETOOTH_RADIO_INFO*) override {
    return ERROR_INVALID_HANDLE;
  }
  HBLUETOOTH_DEVICE_FIND BluetoothFindFirstDevice(const BLUETOOTH_DEVICE_SEARCH_PARAMS*,
                                                  BLUETOOTH_DEVICE_INFO*) override {
    return nullptr;
  }
  BOOL BluetoothFindNextDevice(HBLUETOOTH_DEVICE_FIND, BLUETOOTH_DEVICE_INFO*) override {
    return FALSE;
  }
  BOOL BluetoothFindDeviceClose(HBLUETOOTH_DEVICE_FIND) override { return FALSE; }
  BOOL BluetoothSelectDevices(BLUETOOTH_SELECT_DEVICE_PARAMS*) override { return FALSE; }
  BOOL BluetoothSelectDevicesFree(BLUETOOTH_SELECT_DEVICE_PARAMS*) override { return FALSE; }

 private:
  DWORD error_;
};

TEST(WinBluetoothProvider, ARadioMakesItTheSystemsAndNoneSaysWhyNot) {
  ASSERT_FALSE(platform::vradio::Enabled());
  std::string reason;
  {
    RadioSearchStub oneRadio(ERROR_SUCCESS);
    platform::ScopedBluetoothApi scoped(oneRadio);
    EXPECT_EQ(BluetoothProvider(&reason), TQuorBluetoothProvider::Windows);
    EXPECT_EQ(reason, "Windows has a Bluetooth radio");
    EXPECT_EQ(oneRadio.openSearches, 0);  // the search was closed
    // The virtual radio, once asked for, goes before the system's.
    platform::vradio::Enable(true);
    EXPECT_EQ(BluetoothProvider(), TQuorBluetoothProvider::VirtualRadio);
    platform::vradio::Enable(false);
  }
  {
    RadioSearchStub noRadio(ERROR_NO_MORE_ITEMS);
    platform::ScopedBluetoothApi scoped(noRadio);
    EXPECT_EQ(BluetoothProvider(&reason), TQuorBluetoothProvider::None);
    EXPECT_EQ(reason, "Windows has no Bluetooth radio");
  }
  {
    RadioSearchStub broken(ERROR_CALL_NOT_IMPLEMENTED);
    platform::ScopedBluetoothApi scoped(broken);
    EXPECT_EQ(BluetoothProvider(&reason), TQuorBluetoothProvider::None);
    EXPECT_EQ(reason, "Windows has no Bluetooth radio (error 120: " +
                          SysErrorMessage(ERROR_CALL_NOT_IMPLEMENTED) + ")");
  }
}

}  // namespace
}  // namespace quorlink::testing
