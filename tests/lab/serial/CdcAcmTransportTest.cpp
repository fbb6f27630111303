// TQuorComPort on the real cdc_acm driver (a USB CDC-ACM gadget on the dummy
// host controller): what a pty cannot show about a driver with USB transfers
// and its own buffers behind it.
#include <algorithm>
#include <cstring>
#include <thread>

#include "lab/serial/LabSerial.h"
#include "platform/Kernel.h"
#include "support/SlowDevice.h"

namespace quorlink::testing::lab {
namespace {

using namespace comport;

// The offset of the first byte that differs, or the shorter size.
std::size_t FirstDifference(const TQuorByteArray& a, const TQuorByteArray& b) {
  const std::size_t n = std::min(a.size(), b.size());
  return static_cast<std::size_t>(std::mismatch(a.begin(), a.begin() + n, b.begin()).first -
                                  a.begin());
}

// Every byte value both ways, then a MiB each way at once: nothing is lost,
// doubled, reordered or changed by the driver's line discipline.
TEST_F(LabSerial, EveryByteValueAndAMiBEachWayArriveInOrder) {
  P().port.Connect();
  TQuorByteArray all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  P().Connection().Write(all);
  EXPECT_EQ(P().cable.Read(all.size()), all);
  ASSERT_TRUE(P().cable.Write(all));
  ASSERT_TRUE(PumpUntil([&] { return P().log.received.size() >= all.size(); }));
  EXPECT_EQ(P().log.received, all);

  const auto out = Pattern(1 << 20, 1), in = Pattern(1 << 20, 2);
  P().log.received.clear();
  P().Connection().Write(out);
  std::vector<std::uint8_t> got;
  std::thread device([&] {
    EXPECT_TRUE(P().cable.Write(in));
    got = P().cable.Read(out.size(), 60000);
  });
  EXPECT_TRUE(PumpUntil([&] { return P().log.received.size() >= in.size(); }, 60000));
  device.join();
  PumpFor(50);
  ASSERT_EQ(got.size(), out.size());
  EXPECT_EQ(FirstDifference(got, out), out.size());
  ASSERT_EQ(P().log.received.size(), in.size());
  EXPECT_EQ(FirstDifference(P().log.received, in), in.size());
}

// The port is the library's alone while open, for this process and for
// others, and free again as soon as it is closed.
TEST_F(LabSerial, OpenIsExclusiveUntilClosed) {
  P().port.Connect();
  EXPECT_EQ(P().cable.FreeForOthers(), false);
  EventLog log;
  TQuorComPort second(nullptr);
  log.Attach(second);
  second.SetPort(CablePort::kPort);
  EXPECT_THROW(second.Connect(), EQuorTransportException);
  EXPECT_TRUE(log.events.empty());
  P().Connection().Write(Bytes("still"));
  EXPECT_EQ(P().cable.Read(5), Bytes("still"));
  P().port.Close();
  EXPECT_EQ(P().cable.FreeForOthers(), true);
  second.Connect();
  EXPECT_TRUE(second.IsActive());
  second.Close();
}

// A Connect right after a Close with output still queued in the library and
// the driver takes the port over: the earlier session's bytes first, then
// the new session's, none lost or doubled; the device reads at its own pace.
TEST_F(LabSerial, AReopenWhileOutputDrainsKeepsEveryByteInOrder) {
  TQuorByteArray expected;
  {
    SlowDevice device(P().cable, 4096, 1);
    for (std::uint8_t i = 0; i < 4; ++i) {
      ASSERT_NO_THROW(P().port.Connect()) << int{i};
      const auto block = Pattern(64 * 1024, i);
      P().Connection().Write(block);
      expected.insert(expected.end(), block.begin(), block.end());
      P().port.Close();
    }
    ASSERT_NO_THROW(P().port.Connect());
    EXPECT_TRUE(PumpUntil([&] { return device.Received() >= expected.size(); }, 60000));
    PumpFor(100);
    const auto& got = device.Stop();
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(FirstDifference(got, expected), expected.size());
  }
  // The port taken over reads and closes like any other.
  ASSERT_TRUE(P().cable.Write(Bytes("in")));
  ASSERT_TRUE(PumpUntil([&] { return P().log.received.size() >= 2; }));
  EXPECT_EQ(P().log.received, Bytes("in"));
}

// The driver takes every rate and character format the library offers, and
// the port reports what was set: the read-back sees the driver's own termios.
TEST_F(LabSerial, LineSettingsAreTakenAndReadBack) {
  struct Case {
    TQuorBaudRate rate;
    DWORD custom;
    TQuorByteSize size;
    TQuorParity parity;
    TQuorStopBits stop;
    DWORD expectRate;
    BYTE expectParity, expectStop;
  };
  const Case cases[] = {
      {br9600, 0, 8, paNone, sb1, 9600, NOPARITY, ONESTOPBIT},
      {br56000, 0, 7, paEven, sb2, 56000, EVENPARITY, TWOSTOPBITS},
      {br115200, 921600, 8, paOdd, sb1, 921600, ODDPARITY, ONESTOPBIT},
      {br300, 0, 5, paMark, sb15, 300, MARKPARITY, ONE5STOPBITS},
      {br256000, 0, 6, paSpace, sb2, 256000, SPACEPARITY, TWOSTOPBITS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.expectRate << " baud, " << int{c.size} << " bits");
    P().port.SetBaudRate(c.rate);
    P().port.SetCustomBaudRate(c.custom);
    P().port.SetByteSize(c.size);
    P().port.SetParity(c.parity);
    P().port.SetStopBits(c.stop);
    ASSERT_NO_THROW(P().port.Connect());
    HANDLE h = static_cast<TQuorComPortConnection&>(P().Connection()).GetPortHandle();
    DCB dcb{};
    ASSERT_TRUE(platform::Serial().GetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, c.expectRate);
    EXPECT_EQ(dcb.ByteSize, c.size);
    EXPECT_EQ(dcb.Parity, c.expectParity);
    EXPECT_EQ(dcb.StopBits, c.expectStop);
    // Bytes still pass at every setting (the gadget ignores the line coding).
    P().Connection().Write(Bytes("ok"));
    EXPECT_EQ(P().cable.Read(2), Bytes("ok"));
    P().port.Close();
  }
}

}  // namespace
}  // namespace quorlink::testing::lab
