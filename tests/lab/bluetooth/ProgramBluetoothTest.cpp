// The quorlink program on the real bluetoothd: the radios and devices it
// lists, and `bt listen`'s record as the other controller browses it, with a
// link by channel from there echoed back.
#include <signal.h>

#include "lab/bluetooth/LabBluetooth.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing::lab {
namespace {

using tools::Has;

const char* const kSerialPortUuid = "00001101-0000-1000-8000-00805f9b34fb";

TEST_F(LabBluetooth, ProgramListsRadiosAndDevicesAndItsListenerIsBrowsedAndEchoes) {
  const tools::Exit radios = tools::RunProgram({"bt", "radios"});
  EXPECT_EQ(radios.code, 0) << radios.err;
  EXPECT_TRUE(Has(radios.err, "using BlueZ")) << radios.err;
  EXPECT_TRUE(Has(radios.out, "(00:AA:01:00:00:00)")) << radios.out;
  EXPECT_TRUE(Has(radios.out, "(00:AA:01:01:00:01)")) << radios.out;

  tools::Program listener({"bt", "listen", "--service", "SerialPortServiceClass", "--name",
                           "Lab echo", "--comment", "Bytes & back", "--echo"});
  ASSERT_TRUE(listener.WaitForOut("Ctrl-C stops")) << listener.ErrSoFar();
  const std::string banner = listener.OutSoFar();
  const auto at = banner.find("(00:AA:01:00:00:00):");
  ASSERT_NE(at, std::string::npos) << banner;
  const int channel = std::stoi(banner.substr(at + 20));

  // The record as another radio sees it through bluetoothd's SDP server.
  const auto records = Browse();
  const SdpRecord* mine = nullptr;
  for (const auto& r : records)
    if (r.name == "Lab echo") mine = &r;
  ASSERT_NE(mine, nullptr) << records.size() << " records";
  EXPECT_EQ(mine->description, "Bytes & back");
  EXPECT_TRUE(Has(mine->classes, kSerialPortUuid) || Has(mine->classes, "\"Serial Port\""))
      << mine->classes;
  EXPECT_EQ(mine->channel, channel);

  {
    FarLink link(channel);
    ASSERT_GE(link.Fd(), 0) << "channel " << channel << ", errno " << link.Error();
    ASSERT_TRUE(link.Send("ping\x01\xff"));
    EXPECT_EQ(link.Receive(6), "ping\x01\xff");
    EXPECT_TRUE(listener.WaitForOut("link 1 connected from (00:AA:01:01:00:01)"))
        << listener.OutSoFar();
  }
  EXPECT_TRUE(listener.WaitForOut("link 1 disconnected")) << listener.OutSoFar();

  // The peer is a device bluetoothd knows now.
  const tools::Exit devices = tools::RunProgram({"bt", "devices"});
  EXPECT_EQ(devices.code, 0) << devices.err;
  EXPECT_TRUE(Has(devices.out, "(00:AA:01:01:00:01)")) << devices.out;

  // Stopping the listener takes its record away.
  ASSERT_TRUE(listener.Signal(SIGINT));
  const tools::Exit end = listener.Wait(20000);
  EXPECT_NE(end.code, -1) << end.err;
  for (const auto& r : Browse()) EXPECT_NE(r.name, "Lab echo");
}

}  // namespace
}  // namespace quorlink::testing::lab
