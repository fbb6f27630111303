// TQuorComPort on the real cdc_acm driver as a device behaves: unplugged
// while open (the gadget unbound from its controller) and plugged back,
// modem lines, flow control and a break. The gadget's end answers the modem
// ioctls with ENOTTY, so the lines are seen only from the host's side.
#include <chrono>
#include <cstdio>
#include <thread>

#include "lab/serial/LabSerial.h"
#include "platform/Kernel.h"

namespace quorlink::testing::lab {
namespace {

using namespace comport;

// An unplug while open closes the connection as Close would, with the
// device's reason kept; plugged back, the same port opens and carries bytes.
TEST_F(LabSerial, AnUnplugClosesTheConnectionAndTheReplugOpensAgain) {
  auto& p = P();
  p.port.Connect();
  const auto unplugged = std::chrono::steady_clock::now();
  ASSERT_TRUE(p.cable.Unplug());
  // A bound for the report, not a pass/fail timing: the close is posted when
  // the reader's wait sees the hang-up.
  ASSERT_TRUE(PumpUntil([&] { return !p.port.IsActive(); }, 10000));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - unplugged)
                      .count();
  std::printf("lab: unplug to OnDisconnect and release: %lld ms\n", static_cast<long long>(ms));
  RecordProperty("unplug_to_release_ms", static_cast<int>(ms));
  EXPECT_EQ(p.log.events, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_NE(p.port.GetLinkError(), 0u);
  EXPECT_EQ(p.port.ConnectionCount(), 0);

  ASSERT_TRUE(PlugGadget());
  p.port.Connect();
  // The gadget's end may take a moment after enumeration to carry bytes:
  // what it sends before then is lost on its side, so it says it again.
  bool heard = false;
  for (int i = 0; i < 40 && !heard; ++i) {
    ASSERT_TRUE(p.cable.Write(Bytes("back")));
    heard = PumpUntil([&] { return p.log.received.size() >= 4; }, 250);
  }
  ASSERT_TRUE(heard);
  EXPECT_EQ(TQuorByteArray(p.log.received.begin(), p.log.received.begin() + 4), Bytes("back"));
  p.Connection().Write(Bytes("again"));
  EXPECT_EQ(p.cable.Read(5), Bytes("again"));
}

// DTR and RTS set through the driver; CTS, DSR and DCD as the gadget reports
// them (set); setting an output line changes no input line, so no event.
TEST_F(LabSerial, ModemLinesAreSetAndRead) {
  auto& p = P();
  int changes = 0;
  p.port.OnModemChange = [&](TQuorCustomConnection*, TQuorModemLines) { ++changes; };
  p.port.Connect();
  for (bool on : {false, true}) {
    // The driver takes both (the gadget's end cannot see them).
    p.port.SetDTR(on);
    p.port.SetRTS(!on);
    const TQuorModemLines lines = p.port.GetModemStatus();
    EXPECT_TRUE(lines.Contains(mlCTS));
    EXPECT_TRUE(lines.Contains(mlDSR));
    EXPECT_TRUE(lines.Contains(mlDCD));
  }
  PumpFor(100);
  EXPECT_EQ(changes, 0);
}

// Flow control is taken and read back by the driver; a break is sent or
// refused with the reason, and the link goes on.
TEST_F(LabSerial, FlowControlAndABreak) {
  auto& p = P();
  for (TQuorFlowControl flow : {fcRtsCts, fcXonXoff, fcNone}) {
    p.port.SetFlowControl(flow);
    p.port.Connect();
    HANDLE h = static_cast<TQuorComPortConnection&>(p.Connection()).GetPortHandle();
    DCB dcb{};
    ASSERT_TRUE(platform::Serial().GetCommState(h, &dcb));
    EXPECT_EQ(dcb.fOutxCtsFlow != 0, flow == fcRtsCts);
    EXPECT_EQ(dcb.fOutX != 0, flow == fcXonXoff);
    // cdc_acm sends a break only to a device that offers it (the gadget's
    // ACM function does not): it refuses with EOPNOTSUPP, told, not pretended.
    try {
      p.port.SendBreak(50);
      std::printf("lab: break taken\n");
    } catch (const EQuorTransportException& e) {
      EXPECT_STREQ(e.what(), "Can not write data to connection.");
      EXPECT_EQ(e.GetErrorCode(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
      std::printf("lab: break refused: %lu\n", static_cast<unsigned long>(e.GetErrorCode()));
    }
    p.Connection().Write({'o', 'k'});
    EXPECT_EQ(p.cable.Read(2), (std::vector<std::uint8_t>{'o', 'k'}));
    p.port.Close();
  }
  p.port.SetFlowControl(fcDtrDsr);
  try {
    p.port.Connect();
    ADD_FAILURE() << "Linux has no DTR/DSR handshake";
  } catch (const EQuorTransportException& e) {
    EXPECT_EQ(e.GetKind(), ekSettingsRefused);
  }
}

}  // namespace
}  // namespace quorlink::testing::lab
