// The device picker's authenticate flag: Device1.Pair with this process's
// "NoInputNoOutput" agent, just-works between the two emulated controllers.
#include "lab/bluetooth/LabBluetooth.h"
#include "platform/BluetoothApi.h"
#include "platform/posix/bluez/Bluez.h"

namespace quorlink::testing::lab {
namespace {

TEST_F(LabBluetooth, PickerAuthenticatePairsWithThisProcessAgent) {
  // hci0 meets hci1 (an SDP browse), so bluetoothd offers it to the picker.
  EXPECT_FALSE(Browse("00:AA:01:01:00:01", "hci0").empty());
  auto previous = platform::SetDevicePicker([](const auto& choices) {
    for (std::size_t i = 0; i < choices.size(); ++i)
      if (choices[i].address == kPeer) return static_cast<int>(i);
    return -1;
  });
  auto& api = platform::BluetoothApi();
  BLUETOOTH_SELECT_DEVICE_PARAMS select{};
  select.dwSize = sizeof select;
  select.fForceAuthentication = TRUE;
  const bool chosen = api.BluetoothSelectDevices(&select);
  platform::SetDevicePicker(previous);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(select.pDevices[0].Address.ullLong, kPeer);
  EXPECT_TRUE(select.pDevices[0].fAuthenticated);
  api.BluetoothSelectDevicesFree(&select);
  // bluetoothd holds the bond now, on hci0's side.
  std::vector<platform::posix::bluez::Adapter> adapters;
  std::vector<platform::posix::bluez::Device> devices;
  ASSERT_EQ(platform::posix::bluez::Objects(adapters, devices), 0);
  bool paired = false;
  for (const auto& d : devices) paired |= d.address == kPeer && d.paired;
  EXPECT_TRUE(paired);
}

}  // namespace
}  // namespace quorlink::testing::lab
