// The cases that leave the daemon or the radios changed for what follows: a
// restart of bluetoothd and a bond between the two controllers.
// bluetooth.sh runs the LabBluetoothLast cases after all the others, in the
// order written here.
#include "lab/bluetooth/LabBluetooth.h"
#include "platform/BluetoothApi.h"
#include "platform/posix/bluez/Bluez.h"

namespace quorlink::testing::lab {
namespace {

class LabBluetoothLast : public LabBluetooth {};

// bluetoothd leaving and coming back under the BlueZ provider.
TEST_F(LabBluetoothLast, BluetoothdRestartEndsLinksAndListenersRegisterAgain) {
  std::vector<std::string> serverEvents;
  Transport server = NewTransport(serverEvents);
  server->SetServiceName("Lab keeper");
  server->Listen();
  const int channel = RecordChannel("Lab keeper");
  ASSERT_GT(channel, 0);
  {
    FarLink in(channel);
    ASSERT_GE(in.Fd(), 0) << "channel " << channel << ", errno " << in.Error();
    ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 1; }));
    StopBluetoothd();
    EXPECT_TRUE(PumpUntil([&] { return Count(serverEvents, "disconnect") == 1; }));
    EXPECT_EQ(server->ConnectionCount(), 0);
    EXPECT_TRUE(server->IsActive());
    // The far end sees the link end too (and lets go of its channel).
    EXPECT_TRUE(in.Ended());
  }
  ASSERT_TRUE(StartBluetoothd());

  int again = -1;
  EXPECT_TRUE(PumpUntil([&] { return (again = RecordChannel("Lab keeper")) > 0; }, 20000));
  FarLink later(again);
  ASSERT_GE(later.Fd(), 0) << "channel " << again << ", errno " << later.Error();
  ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 1; }));
  ASSERT_TRUE(later.Send("back"));
  EXPECT_TRUE(PumpUntil([&] { return Count(serverEvents, "read:back") == 1; }));
}

// Whether hci0's bluetoothd side holds a bond with hci1.
bool Paired() {
  std::vector<platform::posix::bluez::Adapter> adapters;
  std::vector<platform::posix::bluez::Device> devices;
  EXPECT_EQ(platform::posix::bluez::Objects(adapters, devices), 0);
  for (const auto& d : devices)
    if (d.address == kPeer && d.paired) return true;
  return false;
}

// The device picker's authenticate flag: Device1.Pair with this process's
// "NoInputNoOutput" agent, just-works between the two emulated controllers.
TEST_F(LabBluetoothLast, PickerAuthenticatePairsWithThisProcessAgent) {
  ForgetEachOther();
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
