// What the serial and Bluetooth terminals do with the bytes, kept free of
// system calls: the CR/LF maps, the exit and help keys, the hex view and the
// log. The loop that moves the bytes is in Terminal.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "quorlink/platform/Types.h"

namespace quorlink::tools {

// CR/LF maps, as a set of flags; each byte is mapped once (crlf,lfcr swaps).
enum MapFlag : unsigned {
  kMapCrLf = 1,     // CR becomes LF
  kMapCrCrLf = 2,   // CR becomes CR LF
  kMapIgnCr = 4,    // CR is dropped
  kMapLfCr = 8,     // LF becomes CR
  kMapLfCrLf = 16,  // LF becomes CR LF
  kMapIgnLf = 32,   // LF is dropped
};

// "crlf,igncr" to flags; nullopt names the first unknown word in `bad`.
std::optional<unsigned> ParseMap(const std::string& text, std::string* bad = nullptr);
std::string ApplyMap(unsigned map, const std::uint8_t* data, std::size_t size);

// Rows of up to 16 bytes: the bytes in hex, then as text (dots for the
// bytes that do not print), one row a line.
std::string HexRows(const std::uint8_t* data, std::size_t size);

struct TerminalOptions {
  bool echo = false;        // what is sent is shown too
  bool hex = false;         // what arrives is shown in hex and as text
  unsigned imap = 0;        // device to screen
  unsigned omap = 0;        // keys to device
  std::string log;          // a file that gets what arrives (after imap), appended
  bool timestamps = false;  // each line that arrives starts with the time
  bool portKeys = false;    // the serial port's keys (lines, break, rate) are commands
};

// The keys after Ctrl-A that act on a serial port (Typed::commands).
enum PortKey : char {
  kKeyToggleDtr = 0x14,  // Ctrl-T
  kKeyToggleRts = 0x07,  // Ctrl-G
  kKeyBreak = 0x1c,      // Ctrl-backslash
  kKeyLines = 0x16,      // Ctrl-V: the modem lines and settings
  kKeyRateUp = 0x15,     // Ctrl-U
  kKeyRateDown = 0x04,   // Ctrl-D
};

// The help lines the mapping options show.
extern const char* const kMapHelp;
// What the keys after Ctrl-A do, as Ctrl-A Ctrl-H shows it; the port's
// keys are added when they are commands.
extern const char* const kKeyHelp;
extern const char* const kPortKeyHelp;

class TerminalSession {
 public:
  // keyboard: standard input is a terminal, so Ctrl-A starts a command.
  TerminalSession(TerminalOptions options, bool keyboard);
  ~TerminalSession();
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  // Opens the log (empty when there is none or it opened), else why not.
  std::string OpenLog();
  bool Keyboard() const { return keyboard_; }
  // The banner's last words: how to leave.
  std::string HowToLeave() const;

  // What the screen shows for bytes from the device; they are logged.
  // `now` gives the time text of a line's start (with timestamps).
  std::string FromDevice(const std::uint8_t* data, std::size_t size,
                         std::string (*now)() = nullptr);

  struct Typed {
    std::string device;    // what goes to the device
    std::string screen;    // the echo
    std::string note;      // for standard error (the help, an unknown key)
    std::string commands;  // port keys (PortKey), to run after device is sent
    bool quit = false;     // the exit key; what came before it is in device
  };
  // Keys (or piped bytes) read from standard input.
  Typed FromKeys(const std::uint8_t* data, std::size_t size);

 private:
  std::string Show(const std::string& bytes) const;

  TerminalOptions options_;
  bool keyboard_;
  bool commandKey_ = false;  // Ctrl-A was the last key
  bool lineStart_ = true;    // the next byte from the device starts a line
  std::FILE* log_ = nullptr;
};

}  // namespace quorlink::tools
