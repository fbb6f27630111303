// The quorlink program's Windows side: `ports` lists the COM ports that are
// present (under Wine, the test's cable pairs, which only the prefix's
// dosdevices links name), and a COM name bound to one of them; the serial
// terminal at a console takes keys raw and gives the console's mode back.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "comport/SerialCable.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing {
namespace {

using tools::Exit;
using tools::Program;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> CablePorts() {
  std::vector<std::string> ports;
  const char* text = std::getenv("QUORLINK_COM_PAIRS");
  std::istringstream in(text != nullptr ? text : "");
  std::string item;
  while (std::getline(in, item, ',')) {
    std::istringstream pair(item);
    std::string port;
    while (std::getline(pair, port, ':')) ports.push_back(port);
  }
  return ports;
}

TEST(QuorlinkProgram, PortsListsTheComPortsPresent) {
  const auto ports = CablePorts();
  if (ports.empty()) GTEST_SKIP() << "no COM ports given in QUORLINK_COM_PAIRS";
  Program p({"ports", "--bind", "COM42=" + ports[0]});
  const Exit e = p.Wait();
  EXPECT_EQ(e.code, 0) << e.err;
  // Each block starts with the port's name on a line of its own.
  // Text: lines end with CR LF here.
  std::string out = "\n" + e.out;
  out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
  for (const auto& port : ports) {
    const auto at = out.find("\n" + port + "\n");
    ASSERT_NE(at, std::string::npos) << port << "\n" << e.out;
    // It says what the system knows of the port and the names that open it.
    const std::string block = out.substr(at, out.find("\nCOM", at + 1) - at);
    EXPECT_TRUE(Has(block, "\n  device:  ")) << block;
    EXPECT_TRUE(Has(block, "\n  com:     ")) << block;
    EXPECT_TRUE(Has(block, port == ports[0] ? "COM42 (bound), " + port : port)) << block;
  }
  // Listed once, though both its own name and the bound one open it.
  const std::string header = "\n" + ports[0] + "\n";
  EXPECT_EQ(out.find(header, out.find(header) + 1), std::string::npos) << e.out;
}

// BlueZ's bus option is not Windows'; without a radio of Windows' own the
// virtual radio serves, and the program says why.
TEST(QuorlinkProgram, BluetoothSaysWhichStackServes) {
  Program bus({"bt", "radios", "--bus", "unix:path=/x"});
  Exit e = bus.Wait();
  EXPECT_EQ(e.code, 2);
  EXPECT_TRUE(Has(e.err, "--bus")) << e.err;

  Program radios({"bt", "radios"});
  e = radios.Wait();
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_TRUE(Has(e.err, "quorlink: using Windows Bluetooth (") ||
              Has(e.err, "Windows Bluetooth is not usable: "))
      << e.err;
}

// Keys typed at the console this test shares with the program.
class ConsoleKeyboard {
 public:
  ConsoleKeyboard()
      : input_(::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr)) {
    if (input_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(input_, &before_)) {
      ::FlushConsoleInputBuffer(input_);
      usable_ = true;
    }
  }
  ~ConsoleKeyboard() {
    if (usable_) ::SetConsoleMode(input_, before_);
    if (input_ != INVALID_HANDLE_VALUE) ::CloseHandle(input_);
  }
  bool Usable() const { return usable_; }
  tools::Stream Stream() const { return reinterpret_cast<tools::Stream>(input_); }
  DWORD Mode() const {
    DWORD mode = 0;
    ::GetConsoleMode(input_, &mode);
    return mode;
  }
  DWORD ModeBefore() const { return before_; }
  // Each character as a key press and release; control characters with Ctrl.
  bool Type(const std::string& keys) {
    std::vector<INPUT_RECORD> records;
    for (const char c : keys) {
      INPUT_RECORD r{};
      r.EventType = KEY_EVENT;
      r.Event.KeyEvent.bKeyDown = TRUE;
      r.Event.KeyEvent.wRepeatCount = 1;
      r.Event.KeyEvent.uChar.UnicodeChar = static_cast<WCHAR>(static_cast<unsigned char>(c));
      const bool control = static_cast<unsigned char>(c) < 0x20 && c != '\r';
      r.Event.KeyEvent.wVirtualKeyCode =
          c == '\r' ? VK_RETURN : static_cast<WORD>(control ? 'A' + c - 1 : std::toupper(c));
      r.Event.KeyEvent.dwControlKeyState = control ? LEFT_CTRL_PRESSED : 0;
      records.push_back(r);
      r.Event.KeyEvent.bKeyDown = FALSE;
      records.push_back(r);
    }
    DWORD written = 0;
    return ::WriteConsoleInputW(input_, records.data(), static_cast<DWORD>(records.size()),
                                &written) &&
           written == records.size();
  }

 private:
  HANDLE input_;
  DWORD before_ = 0;
  bool usable_ = false;
};

std::string Text(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

TEST(QuorlinkTerminal, ConsoleKeysGoOutAsTypedAndTheModeComesBack) {
  ConsoleKeyboard keyboard;
  if (!keyboard.Usable())
    GTEST_SKIP() << "this test has no console to share with the program (Wine without a "
                    "display gives a console whose mode cannot be read)";
  SerialCable cable;
  Program p({"serial", cable.PortPath()}, keyboard.Stream());
  ASSERT_TRUE(p.WaitForErr("Ctrl-A Ctrl-X exits", 30000)) << p.ErrSoFar();
  // Raw while it runs: no line input, no echo, Ctrl-C is a key.
  EXPECT_EQ(keyboard.Mode() & (ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT), 0u);
  ASSERT_TRUE(keyboard.Type("a"));  // no Enter: it goes out at once
  EXPECT_EQ(Text(cable.Read(1)), "a");
  ASSERT_TRUE(keyboard.Type("\x03\r"));
  EXPECT_EQ(Text(cable.Read(2)), "\x03\r");
  ASSERT_TRUE(keyboard.Type("b\x01\x01\x01\x18"));  // Ctrl-A sent as itself, then exit
  EXPECT_EQ(Text(cable.Read(2)), "b\x01");
  const Exit e = p.Wait(30000);
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(keyboard.Mode(), keyboard.ModeBefore());
}

}  // namespace
}  // namespace quorlink::testing
