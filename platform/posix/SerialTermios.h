// Line settings as values: the kernel's termios record and the conversion
// between it and a DCB, kept free of I/O so that it is testable without a
// device.
#pragma once

#include <cstdint>
#include <optional>

#include "quorlink/platform/Serial.h"

namespace quorlink::platform::posix {

// The kernel's termios2 record (the one that carries arbitrary speeds),
// mirrored so that only one file needs the kernel's header.
struct KernelTermios {
  std::uint32_t iflag = 0;
  std::uint32_t oflag = 0;
  std::uint32_t cflag = 0;
  std::uint32_t lflag = 0;
  std::uint8_t line = 0;
  std::uint8_t cc[19] = {};
  std::uint32_t ispeed = 0;
  std::uint32_t ospeed = 0;
};

// What a port reports before anything was set: the fields termios has no
// place for take these values.
DCB DefaultDcb();

// Raw mode: no echo, no line editing, no translation, no signals, receiver
// on, modem lines ignored, reads return what is there.
void MakeRaw(KernelTermios& t);

// The DCB a port with these settings reports. Fields termios cannot hold are
// taken from `shadow` (the last DCB set), so that they round-trip.
DCB DcbFromTermios(const KernelTermios& t, const DCB& shadow);

// The termios for a DCB, starting from `base` so that flags the DCB does not
// describe stay as they are; nullopt for settings no line can have (data bits
// outside 5..8, unknown parity or stop bits, 1.5 stop bits with 6..8 data
// bits, 2 with 5, speed 0, DTR/DSR handshake).
std::optional<KernelTermios> TermiosFromDcb(const DCB& dcb, const KernelTermios& base);

// The line speed in bits per second that the settings describe.
DWORD SpeedOf(const KernelTermios& t);

// True when the device took the settings the library asked for: character
// format, hardware and software flow control, and the speed within 3 percent.
bool SettingsTaken(const KernelTermios& wanted, const KernelTermios& actual);

}  // namespace quorlink::platform::posix
