#include "platform/posix/SerialTermios.h"

#include <termios.h>

namespace quorlink::platform::posix {

namespace {

// The kernel's values; glibc's termios.h does not give the termios2 ones.
constexpr std::uint32_t kCbaud = 0x0000100f;
constexpr std::uint32_t kBother = 0x00001000;
constexpr std::uint32_t kCibaud = kCbaud << 16;

struct SpeedCode {
  std::uint32_t code;
  DWORD rate;
};

constexpr SpeedCode kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

constexpr std::uint32_t kFormatBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

}  // namespace

DCB DefaultDcb() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.BaudRate = CBR_9600;
  d.fBinary = 1;
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fRtsControl = RTS_CONTROL_ENABLE;
  d.XonLim = 2048;
  d.XoffLim = 512;
  d.ByteSize = 8;
  d.XonChar = 0x11;
  d.XoffChar = 0x13;
  return d;
}

void MakeRaw(KernelTermios& t) {
  t.iflag &= ~static_cast<std::uint32_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                         IXON | IXOFF | IUCLC | IXANY | IMAXBEL);
  t.oflag &= ~static_cast<std::uint32_t>(OPOST);
  t.lflag &= ~static_cast<std::uint32_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.cflag |= CREAD | CLOCAL;
  t.cc[VMIN] = 1;
  t.cc[VTIME] = 0;
}

DWORD SpeedOf(const KernelTermios& t) {
  const std::uint32_t code = t.cflag & kCbaud;
  if (code == kBother) return t.ospeed;
  for (const auto& s : kSpeeds)
    if (s.code == code) return s.rate;
  return t.ospeed;
}

DCB DcbFromTermios(const KernelTermios& t, const DCB& shadow) {
  DCB d = shadow;
  d.DCBlength = sizeof(DCB);
  d.BaudRate = SpeedOf(t);
  switch (t.cflag & CSIZE) {
    case CS5:
      d.ByteSize = 5;
      break;
    case CS6:
      d.ByteSize = 6;
      break;
    case CS7:
      d.ByteSize = 7;
      break;
    default:
      d.ByteSize = 8;
      break;
  }
  if ((t.cflag & PARENB) == 0)
    d.Parity = NOPARITY;
  else if ((t.cflag & CMSPAR) != 0)
    d.Parity = (t.cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
  else
    d.Parity = (t.cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
  if ((t.cflag & CSTOPB) == 0)
    d.StopBits = ONESTOPBIT;
  else
    d.StopBits = d.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  d.fBinary = 1;
  d.fParity = (t.iflag & INPCK) != 0;
  d.fOutX = (t.iflag & IXON) != 0;
  d.fInX = (t.iflag & IXOFF) != 0;
  d.XonChar = static_cast<char>(t.cc[VSTART]);
  d.XoffChar = static_cast<char>(t.cc[VSTOP]);
  // Hardware handshake is one bit in termios; keep the shadow's finer split
  // while it still says the same.
  const bool rtscts = (t.cflag & CRTSCTS) != 0;
  const bool shadowHandshake = shadow.fOutxCtsFlow || shadow.fRtsControl == RTS_CONTROL_HANDSHAKE;
  if (rtscts != shadowHandshake) {
    d.fOutxCtsFlow = rtscts;
    d.fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  }
  return d;
}

std::optional<KernelTermios> TermiosFromDcb(const DCB& dcb, const KernelTermios& base) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      dcb.StopBits > TWOSTOPBITS)
    return std::nullopt;
  if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) return std::nullopt;
  if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) return std::nullopt;
  // Linux has no DTR/DSR handshake.
  if (dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) return std::nullopt;

  KernelTermios t = base;
  t.cflag &= ~(kFormatBits | kCbaud | kCibaud);
  static constexpr std::uint32_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case ODDPARITY:
      t.cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      t.cflag |= PARENB;
      break;
    case MARKPARITY:
      t.cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      t.cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (dcb.StopBits != ONESTOPBIT) t.cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.cflag |= CRTSCTS;

  auto setFlag = [&](std::uint32_t flag, bool on) {
    t.iflag = on ? (t.iflag | flag) : (t.iflag & ~flag);
  };
  setFlag(INPCK, dcb.fParity);
  setFlag(IXON, dcb.fOutX);
  setFlag(IXOFF, dcb.fInX);
  t.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
  t.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);

  // A rate with a speed code goes by its code (every driver knows those);
  // any other through the arbitrary-rate code.
  std::uint32_t code = kBother;
  for (const auto& s : kSpeeds)
    if (s.rate == dcb.BaudRate) code = s.code;
  t.cflag |= code;
  t.ospeed = t.ispeed = dcb.BaudRate;
  return t;
}

bool SettingsTaken(const KernelTermios& wanted, const KernelTermios& actual) {
  if ((wanted.cflag & kFormatBits) != (actual.cflag & kFormatBits)) return false;
  constexpr std::uint32_t kSoftwareFlow = IXON | IXOFF;
  if ((wanted.iflag & kSoftwareFlow) != (actual.iflag & kSoftwareFlow)) return false;
  const double want = SpeedOf(wanted);
  const double got = SpeedOf(actual);
  return got >= want * 0.97 && got <= want * 1.03;
}

}  // namespace quorlink::platform::posix
