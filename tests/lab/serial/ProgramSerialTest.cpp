// `quorlink serial` on the cdc_acm port through pipes, as a script uses it:
// its input reaches the device whole, the device's reply reaches its output,
// and the port is free for the next run as soon as it has ended.
#include "lab/serial/LabSerial.h"
#include "support/SlowDevice.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing::lab {
namespace {

using namespace tools;

TEST_F(LabSerial, ProgramThroughAPipeCarriesEveryByteAndReleasesThePort) {
  std::vector<std::uint8_t> input(256 * 1024);
  for (std::size_t i = 0; i < input.size(); ++i)
    input[i] = static_cast<std::uint8_t>(i * 31 + i / 509);
  const std::string reply = "device says\r\n\x01\xff";
  Exit e;
  std::size_t received = 0;
  std::vector<std::uint8_t> got;
  {
    // Held open until the reply has come back: the program ends with its input.
    Feeder feed(input, true);
    Program p({"serial", P().cable.PortPath(), "--baud", "115200"}, feed.ReadEnd());
    ASSERT_TRUE(p.Started());
    SlowDevice device(P().cable, 4096, 0);
    EXPECT_TRUE(comport::PumpUntil([&] { return device.Received() >= input.size(); }, 60000));
    received = device.Received();
    got = device.Stop();
    EXPECT_TRUE(P().cable.Write(reply));
    EXPECT_TRUE(p.WaitForOut(reply)) << p.OutSoFar().size() << " bytes out";
    feed.End();
    e = p.Wait(30000);
  }
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(received, input.size());
  EXPECT_TRUE(got == input);
  EXPECT_EQ(e.out, reply);
  // Free at once for the next run, which opens it as the previous one did.
  EXPECT_EQ(P().cable.FreeForOthers(), true);
  const Exit again = RunProgram({"serial", P().cable.PortPath()});
  EXPECT_EQ(again.code, 0) << again.err;
}

// With --reconnect the program waits out an unplug and, once the gadget is
// back (announced by the kernel's device events), carries bytes again.
TEST_F(LabSerial, ProgramWaitsOutAnUnplugAndCarriesBytesAgain) {
  Feeder feed({}, true);
  Program p({"serial", P().cable.PortPath(), "--reconnect"}, feed.ReadEnd());
  ASSERT_TRUE(p.Started());
  ASSERT_TRUE(p.WaitForErr(" open as ")) << p.ErrSoFar();
  ASSERT_TRUE(P().cable.Unplug());
  EXPECT_TRUE(p.WaitForErr("waiting for")) << p.ErrSoFar();
  ASSERT_TRUE(PlugGadget());
  EXPECT_TRUE(p.WaitForErr("is back", 20000)) << p.ErrSoFar();
  // What the gadget's end sends just after enumeration may be lost there.
  bool heard = false;
  for (int i = 0; i < 40 && !heard; ++i) {
    ASSERT_TRUE(P().cable.Write(std::string("back")));
    heard = p.WaitForOut("back", 250);
  }
  EXPECT_TRUE(heard) << p.ErrSoFar();
  feed.End();
  const Exit e = p.Wait(30000);
  EXPECT_EQ(e.code, 0) << e.err;
}

}  // namespace
}  // namespace quorlink::testing::lab
