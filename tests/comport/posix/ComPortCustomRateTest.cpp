// Rates outside the enumeration: CustomBaudRate reaches the device as given,
// 0 falls back to BaudRate, and a form stores it only when it is set.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "comport/ComPortTestSupport.h"
#include "quorlink/core/FormStream.h"

namespace quorlink::testing {
namespace {

using namespace comport;

// The speed the tty itself holds, read on a descriptor of the test's own.
unsigned DeviceSpeed(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return 0;
  termios2 t{};
  const int r = ioctl(fd, TCGETS2, &t);
  ::close(fd);
  return r == 0 ? t.c_ospeed : 0;
}

TEST(ComPortCustomRate, ReachesTheDeviceAndZeroUsesBaudRate) {
  CablePort p;
  EXPECT_EQ(p.port.GetCustomBaudRate(), 0u);
  EXPECT_EQ(p.port.GetLineRate(), 115200u);
  // 250000 and 1234567 have no speed code; 921600 has one.
  for (DWORD rate : {921600u, 250000u, 1234567u}) {
    p.port.SetCustomBaudRate(rate);
    p.port.Connect();
    EXPECT_EQ(DeviceSpeed(p.cable.PortPath()), rate);
    HANDLE h = static_cast<TQuorComPortConnection&>(p.Connection()).GetPortHandle();
    DCB dcb{};
    ASSERT_TRUE(platform::Serial().GetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, rate);
    // Like every setting: fixed while open, the same value is no change.
    EXPECT_NO_THROW(p.port.SetCustomBaudRate(rate));
    EXPECT_THROW(p.port.SetCustomBaudRate(rate + 1), EQuorTransportException);
    ASSERT_TRUE(p.cable.Write("x"));
    ASSERT_TRUE(PumpUntil([&] { return !p.log.received.empty(); }));
    p.log.received.clear();
    p.port.Close();
  }
  p.port.SetCustomBaudRate(0);
  p.port.SetBaudRate(br9600);
  p.port.Connect();
  EXPECT_EQ(DeviceSpeed(p.cable.PortPath()), 9600u);
}

TEST(ComPortCustomRate, AFormStoresItOnlyWhenSet) {
  TQuorComPort port(nullptr);
  port.SetBaudRate(br9600);
  const std::string plain = WriteForm(port);
  EXPECT_EQ(plain.find("CustomBaudRate"), std::string::npos) << plain;
  EXPECT_NE(plain.find("BaudRate = br9600"), std::string::npos) << plain;

  port.SetCustomBaudRate(921600);
  const std::string custom = WriteForm(port);
  EXPECT_NE(custom.find("  CustomBaudRate = 921600\n"), std::string::npos) << custom;
  EXPECT_NE(custom.find("BaudRate = br9600"), std::string::npos) << custom;

  TQuorComPort back(nullptr);
  ReadForm(back, custom);
  EXPECT_EQ(back.GetCustomBaudRate(), 921600u);
  EXPECT_EQ(back.GetBaudRate(), br9600);
  ReadForm(back, plain);
  EXPECT_EQ(back.GetCustomBaudRate(), 921600u);  // values a form leaves out are kept
  EXPECT_THROW(ReadForm(back, "object TQuorComPort\n  CustomBaudRate = -1\nend\n"), Exception);
  EXPECT_THROW(ReadForm(back, "object TQuorComPort\n  CustomBaudRate = 4294967296\nend\n"),
               Exception);
}

}  // namespace
}  // namespace quorlink::testing
