// What a pty shows of a device's behaviour: a hang-up, why an open failed,
// modem control (a pty has no lines but takes a break), and modem-line
// changes reaching OnModemChange through the decorator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "comport/ComPortTestSupport.h"
#include "support/FaultySerial.h"

namespace quorlink::testing {
namespace {

using namespace comport;

// TIOCVHANGUP is what the kernel does to an open tty whose adapter is pulled.
TEST(ComPortDevice, AHangUpClosesTheConnectionAndThePortOpensAgain) {
  CablePort p;
  p.port.Connect();
  const int fd = ::open(p.cable.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  const int hung = ioctl(fd, TIOCVHANGUP);
  ::close(fd);
  if (hung != 0) GTEST_SKIP() << "TIOCVHANGUP needs CAP_SYS_ADMIN";
  ASSERT_TRUE(PumpUntil([&] { return !p.port.IsActive(); }));
  EXPECT_EQ(p.log.events, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_NE(p.port.GetLinkError(), 0u);
  // The device was released: the same port opens and carries bytes again.
  p.port.Connect();
  p.Connection().Write(Bytes("back"));
  EXPECT_EQ(p.cable.Read(4), Bytes("back"));
  ASSERT_TRUE(p.cable.Write(Bytes("in")));
  ASSERT_TRUE(PumpUntil([&] { return p.log.received.size() >= 2; }));
}

struct OpenCase {
  const char* what;
  TQuorErrorKind kind;
  DWORD code;
};

// The exact message stays; the code and the kind say why.
TEST(ComPortDevice, AFailedOpenSaysWhy) {
  CablePort p;
  constexpr unsigned kOther = 44;
  auto attempt = [&](TQuorComPort& port) -> std::optional<EQuorTransportException> {
    try {
      port.Connect();
    } catch (const EQuorTransportException& e) {
      return e;
    }
    return std::nullopt;
  };
  const OpenCase cases[] = {{"/nonexistent/tty", ekNotFound, ERROR_FILE_NOT_FOUND},
                            {"/dev/null", ekNotSerialDevice, ERROR_INVALID_FUNCTION},
                            {"in use", ekInUse, ERROR_SHARING_VIOLATION},
                            {"DTR/DSR flow", ekSettingsRefused, ERROR_INVALID_PARAMETER}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string what = c.what;
    ScopedComBinding binding{kOther, what[0] == '/' ? what : p.cable.PortPath()};
    TQuorComPort port(nullptr);
    port.SetPort(kOther);
    if (what == "in use") p.port.Connect();
    if (what == "DTR/DSR flow") port.SetFlowControl(fcDtrDsr);
    auto e = attempt(port);
    ASSERT_TRUE(e.has_value());
    EXPECT_STREQ(e->what(), "Can not open connection.");
    EXPECT_EQ(e->GetKind(), c.kind);
    EXPECT_EQ(e->GetErrorCode(), c.code);
    EXPECT_FALSE(port.IsActive());
    p.port.Close();
  }
  if (geteuid() == 0) GTEST_SKIP() << "not permitted: root opens any device";
  ASSERT_EQ(chmod(p.cable.PortPath().c_str(), 0), 0);
  auto e = attempt(p.port);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->GetKind(), ekNotPermitted);
}

// A pty has no modem lines: setting or reading them fails with the reason,
// and the link goes on; a break is taken.
TEST(ComPortDevice, APtyRefusesModemLinesAndTakesABreak) {
  CablePort p;
  auto raised = [](auto call) -> std::optional<EQuorTransportException> {
    try {
      call();
    } catch (const EQuorTransportException& e) {
      return e;
    }
    return std::nullopt;
  };
  auto inactive = raised([&] { p.port.SetDTR(true); });
  ASSERT_TRUE(inactive.has_value());
  EXPECT_STREQ(inactive->what(), "Transport not active.");
  p.port.Connect();
  for (auto call : {std::function<void()>([&] { p.port.SetDTR(false); }),
                    std::function<void()>([&] { p.port.SetRTS(true); }),
                    std::function<void()>([&] { p.port.GetModemStatus(); })}) {
    auto e = raised(call);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->GetErrorCode(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  }
  auto bad = raised([&] { p.port.SendBreak(0); });
  ASSERT_TRUE(bad.has_value());
  EXPECT_STREQ(bad->what(), "Invalid argument.");
  p.port.SendBreak(5);
  p.Connection().Write(Bytes("after"));
  EXPECT_EQ(p.cable.Read(5), Bytes("after"));
  EXPECT_TRUE(p.port.IsActive());
}

// Lines a pty cannot have, played by the decorator: a change reaches
// OnModemChange on the main thread, an unchanged status raises nothing, and
// nothing is raised after the close.
TEST(ComPortDevice, AModemLineChangeRaisesOnModemChange) {
  CablePort p;
  FaultPlan plan;
  FaultySerial serial{plan};
  std::atomic<DWORD> lines{MS_CTS_ON};
  serial.ModemStatus = [&](DWORD* status) {
    *status = lines.load();
    return TRUE;
  };
  platform::ScopedSerial scoped{serial};
  std::vector<TQuorModemLines> changes;
  p.port.OnModemChange = [&](TQuorCustomConnection* c, TQuorModemLines now) {
    EXPECT_EQ(c, p.port.GetConnections(0));
    changes.push_back(now);
  };
  p.port.Connect();
  EXPECT_EQ(p.port.GetModemStatus(), (TQuorModemLines{mlCTS}));
  ASSERT_TRUE(p.cable.Write(Bytes("a")));  // a wake-up with the lines as they were
  ASSERT_TRUE(PumpUntil([&] { return p.log.received.size() == 1; }));
  lines = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
  ASSERT_TRUE(p.cable.Write(Bytes("b")));
  ASSERT_TRUE(PumpUntil([&] { return !changes.empty(); }));
  EXPECT_EQ(changes, (std::vector<TQuorModemLines>{{mlCTS, mlDSR, mlDCD}}));
  p.port.Close();
  lines = MS_RING_ON;
  PumpFor(30);
  EXPECT_EQ(changes.size(), 1u);
  EXPECT_TRUE(p.threads.Back());
}

}  // namespace
}  // namespace quorlink::testing
