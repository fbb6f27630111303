// Modem control through the Win32 calls. Under Wine the port is a pty, whose
// lines the test's modem shim plays (DSR, CTS and CD up; DTR and RTS what
// was set), so what shows is that each call reaches the driver and reads back.
#include <gtest/gtest.h>

#include "comport/ComPortTestSupport.h"

namespace quorlink::testing {
namespace {

using namespace comport;

TEST(ComPortModemControl, LinesAreSetAndReadAndABreakIsSent) {
  CablePort p;
  int changes = 0;
  p.port.OnModemChange = [&](TQuorCustomConnection*, TQuorModemLines) { ++changes; };
  p.port.Connect();
  for (bool on : {false, true}) {
    p.port.SetDTR(on);
    p.port.SetRTS(on);
  }
  const TQuorModemLines lines = p.port.GetModemStatus();
  EXPECT_TRUE(lines.Contains(mlDSR));
  EXPECT_TRUE(lines.Contains(mlCTS));
  EXPECT_TRUE(lines.Contains(mlDCD));
  p.port.SendBreak(10);
  p.Connection().Write(Bytes("after"));
  EXPECT_EQ(p.cable.Read(5), Bytes("after"));
  ASSERT_TRUE(p.cable.Write(Bytes("in")));
  ASSERT_TRUE(PumpUntil([&] { return p.log.received.size() >= 2; }));
  EXPECT_EQ(changes, 0);  // the input lines never changed
}

}  // namespace
}  // namespace quorlink::testing
