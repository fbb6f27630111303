// bluetoothd leaving and coming back under the BlueZ provider. Its own file,
// last in the group: the restart is the one case that disturbs the daemon.
#include "lab/bluetooth/LabBluetooth.h"

namespace quorlink::testing::lab {
namespace {

// bluetoothd killed: every link ends with OnDisconnect; started again: the
// listener that stayed open registers its record again and takes links.
TEST_F(LabBluetooth, BluetoothdRestartEndsLinksAndListenersRegisterAgain) {
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

}  // namespace
}  // namespace quorlink::testing::lab
