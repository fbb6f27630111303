// The device picker's authenticate flag: Device1.Pair with this process's
// "NoInputNoOutput" agent, just-works between the two emulated controllers.
#include "lab/bluetooth/LabBluetooth.h"
#include "platform/BluetoothApi.h"
#include "platform/posix/bluez/Bluez.h"

namespace quorlink::testing::lab {
namespace {

// Each side forgets the other, with any bond an earlier case's links made
// (bluetoothd's profiles ask for an encrypted link, so a link pairs).
void Forget() {
  for (const char* pair : {"hci0 dev_00_AA_01_01_00_01", "hci1 dev_00_AA_01_00_00_00"}) {
    const std::string text = pair;
    const std::string adapter = text.substr(0, 4), device = text.substr(5);
    Shell("dbus-send --system --print-reply --dest=org.bluez /org/bluez/" + adapter +
          " org.bluez.Adapter1.RemoveDevice objpath:/org/bluez/" + adapter + "/" + device);
  }
}

bool Paired() {
  std::vector<platform::posix::bluez::Adapter> adapters;
  std::vector<platform::posix::bluez::Device> devices;
  EXPECT_EQ(platform::posix::bluez::Objects(adapters, devices), 0);
  for (const auto& d : devices)
    if (d.address == kPeer && d.paired) return true;
  return false;
}

TEST_F(LabBluetooth, PickerAuthenticatePairsWithThisProcessAgent) {
  Forget();
  // hci0 meets hci1 again (an SDP browse), so bluetoothd offers it to the
  // picker, not paired.
  EXPECT_FALSE(Browse("00:AA:01:01:00:01", "hci0").empty());
  ASSERT_FALSE(Paired());
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
  EXPECT_TRUE(Paired());
}

}  // namespace
}  // namespace quorlink::testing::lab
