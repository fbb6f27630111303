// Rates outside the enumeration: CustomBaudRate reaches the device as given,
// and 0 falls back to BaudRate.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "comport/ComPortTestSupport.h"

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

}  // namespace
}  // namespace quorlink::testing
