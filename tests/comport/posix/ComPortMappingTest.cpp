// Line settings as values: DCB <-> termios without a device.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>

#include "platform/posix/SerialTermios.h"
#include "quorlink/comport/QuorComPort.h"

namespace quorlink::platform::posix {
namespace {

KernelTermios RawBase() {
  KernelTermios t;
  t.cflag = CS8 | CREAD | CLOCAL | B9600;
  MakeRaw(t);
  return t;
}

DCB With(DWORD rate, BYTE size, BYTE parity, BYTE stop) {
  DCB d = DefaultDcb();
  d.BaudRate = rate;
  d.ByteSize = size;
  d.Parity = parity;
  d.StopBits = stop;
  return d;
}

TEST(SerialMapping, EveryRateOfTheEnumerationRoundTrips) {
  for (int r = br110; r <= br256000; ++r) {
    const DWORD rate = BaudRateValue(static_cast<TQuorBaudRate>(r));
    auto t = TermiosFromDcb(With(rate, 8, NOPARITY, ONESTOPBIT), RawBase());
    ASSERT_TRUE(t) << rate;
    EXPECT_EQ(SpeedOf(*t), rate);
    EXPECT_EQ(DcbFromTermios(*t, DefaultDcb()).BaudRate, rate);
  }
}

TEST(SerialMapping, RatesWithoutASpeedCodeUseTheArbitraryRateCode) {
  auto standard = TermiosFromDcb(With(115200, 8, NOPARITY, ONESTOPBIT), RawBase());
  auto odd = TermiosFromDcb(With(14400, 8, NOPARITY, ONESTOPBIT), RawBase());
  EXPECT_EQ(standard->cflag & 0x100f, static_cast<std::uint32_t>(B115200));
  EXPECT_EQ(odd->cflag & 0x100f, 0x1000u);
  EXPECT_EQ(odd->ospeed, 14400u);
  EXPECT_EQ(odd->ispeed, 14400u);
}

TEST(SerialMapping, CharacterFormatsRoundTrip) {
  struct Case {
    BYTE size, parity, stop;
  };
  const Case cases[] = {{5, NOPARITY, ONESTOPBIT},     {5, ODDPARITY, ONE5STOPBITS},
                        {6, EVENPARITY, TWOSTOPBITS},  {7, MARKPARITY, ONESTOPBIT},
                        {8, SPACEPARITY, TWOSTOPBITS}, {8, EVENPARITY, ONESTOPBIT}};
  for (const auto& c : cases) {
    auto t = TermiosFromDcb(With(9600, c.size, c.parity, c.stop), RawBase());
    ASSERT_TRUE(t);
    const DCB back = DcbFromTermios(*t, DefaultDcb());
    EXPECT_EQ(back.ByteSize, c.size);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.StopBits, c.stop);
  }
}

TEST(SerialMapping, ParityBitsAreTheKernels) {
  auto mark = TermiosFromDcb(With(9600, 8, MARKPARITY, ONESTOPBIT), RawBase());
  EXPECT_EQ(mark->cflag & (PARENB | PARODD | CMSPAR),
            static_cast<std::uint32_t>(PARENB | PARODD | CMSPAR));
  auto space = TermiosFromDcb(With(9600, 8, SPACEPARITY, ONESTOPBIT), RawBase());
  EXPECT_EQ(space->cflag & (PARENB | PARODD | CMSPAR), static_cast<std::uint32_t>(PARENB | CMSPAR));
  // Choosing a parity does not switch on input checking.
  EXPECT_EQ(mark->iflag & INPCK, 0u);
}

TEST(SerialMapping, SettingsNoLineCanHaveAreRefused) {
  EXPECT_FALSE(TermiosFromDcb(With(9600, 4, NOPARITY, ONESTOPBIT), RawBase()));
  EXPECT_FALSE(TermiosFromDcb(With(9600, 9, NOPARITY, ONESTOPBIT), RawBase()));
  EXPECT_FALSE(TermiosFromDcb(With(9600, 8, 5, ONESTOPBIT), RawBase()));
  EXPECT_FALSE(TermiosFromDcb(With(9600, 8, NOPARITY, 3), RawBase()));
  EXPECT_FALSE(TermiosFromDcb(With(9600, 8, NOPARITY, ONE5STOPBITS), RawBase()));
  EXPECT_FALSE(TermiosFromDcb(With(9600, 5, NOPARITY, TWOSTOPBITS), RawBase()));
  EXPECT_FALSE(TermiosFromDcb(With(0, 8, NOPARITY, ONESTOPBIT), RawBase()));
  // Linux has no DTR/DSR handshake: taking it would pretend.
  DCB dsr = With(9600, 8, NOPARITY, ONESTOPBIT);
  dsr.fOutxDsrFlow = 1;
  EXPECT_FALSE(TermiosFromDcb(dsr, RawBase()));
  dsr.fOutxDsrFlow = 0;
  dsr.fDtrControl = DTR_CONTROL_HANDSHAKE;
  EXPECT_FALSE(TermiosFromDcb(dsr, RawBase()));
}

TEST(SerialMapping, FieldsTermiosCannotHoldRoundTripThroughTheShadow) {
  DCB d = With(57600, 7, EVENPARITY, ONESTOPBIT);
  d.fDtrControl = DTR_CONTROL_DISABLE;
  d.fDsrSensitivity = 1;
  d.fAbortOnError = 1;
  d.XonLim = 77;
  d.EvtChar = 'x';
  d.fOutX = 1;
  d.XonChar = 0x21;
  auto t = TermiosFromDcb(d, RawBase());
  ASSERT_TRUE(t);
  const DCB back = DcbFromTermios(*t, d);
  EXPECT_EQ(std::memcmp(&back, &d, sizeof d), 0);
}

TEST(SerialMapping, HardwareHandshakeFollowsTheKernelWhenChangedBehindOurBack) {
  auto t = TermiosFromDcb(With(9600, 8, NOPARITY, ONESTOPBIT), RawBase());
  t->cflag |= CRTSCTS;
  const DCB d = DcbFromTermios(*t, DefaultDcb());
  EXPECT_TRUE(d.fOutxCtsFlow);
  EXPECT_EQ(d.fRtsControl, RTS_CONTROL_HANDSHAKE);
}

TEST(SerialMapping, FlagsTheDcbDoesNotDescribeAreKept) {
  KernelTermios base = RawBase();
  base.iflag |= IGNPAR;
  base.cflag |= HUPCL;
  auto t = TermiosFromDcb(With(9600, 8, NOPARITY, ONESTOPBIT), base);
  EXPECT_NE(t->iflag & IGNPAR, 0u);
  EXPECT_NE(t->cflag & HUPCL, 0u);
}

TEST(SerialMapping, RawModePassesBytesUnchanged) {
  KernelTermios t;
  t.iflag = ICRNL | IXON | ISTRIP;
  t.oflag = OPOST | ONLCR;
  t.lflag = ECHO | ICANON | ISIG | IEXTEN;
  MakeRaw(t);
  EXPECT_EQ(t.iflag & (ICRNL | IXON | ISTRIP), 0u);
  EXPECT_EQ(t.oflag & OPOST, 0u);
  EXPECT_EQ(t.lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_NE(t.cflag & CLOCAL, 0u);
}

TEST(SerialMapping, ADriverThatRoundsTheSpeedTooFarOrDropsAFormatBitIsCaught) {
  auto wanted = TermiosFromDcb(With(256000, 8, MARKPARITY, ONESTOPBIT), RawBase());
  KernelTermios close = *wanted;
  close.ospeed = 250000;  // within 3 percent
  EXPECT_TRUE(SettingsTaken(*wanted, close));
  KernelTermios far = *wanted;
  far.ospeed = 230400;
  EXPECT_FALSE(SettingsTaken(*wanted, far));
  KernelTermios noStick = *wanted;
  noStick.cflag &= ~static_cast<std::uint32_t>(CMSPAR);
  EXPECT_FALSE(SettingsTaken(*wanted, noStick));
}

TEST(SerialMapping, ComNamesAndBindings) {
  EXPECT_EQ(ComPortNumber("COM3"), 3u);
  EXPECT_EQ(ComPortNumber("com12"), 12u);
  EXPECT_EQ(ComPortNumber("\\\\.\\COM10"), 10u);
  EXPECT_EQ(ComPortNumber("COM0"), 0u);
  EXPECT_FALSE(ComPortNumber("COM"));
  EXPECT_FALSE(ComPortNumber("COMX"));
  EXPECT_FALSE(ComPortNumber("/dev/ttyS0"));
  EXPECT_FALSE(BindComPort(0, "/dev/null"));
  EXPECT_TRUE(BindComPort(200, "/tmp/x"));
  EXPECT_EQ(BoundComPort("COM200"), "/tmp/x");
  UnbindComPort(200);
  EXPECT_FALSE(BoundComPort("COM200"));
}

}  // namespace
}  // namespace quorlink::platform::posix
