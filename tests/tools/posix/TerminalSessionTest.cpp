// `quorlink serial` at a terminal, as a person uses it: the test owns a pty
// whose slave is the program's standard input and output (the screen and
// keyboard) and a second pair as the device. Keys go out as typed, device
// bytes reach the screen, the maps, hex view and log apply, Ctrl-A Ctrl-X
// exits, and the terminal's settings come back however the program ends.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "OsTestSupport.h"
#include "support/PtyPair.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing {
namespace {

using tools::Exit;
using tools::Program;

std::string Text(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

// The terminal a person sits at: the master is the keyboard and the screen.
class Screen {
 public:
  Screen() : slave_(::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    before_ = Attributes();
  }
  ~Screen() { ::close(slave_); }
  int Slave() const { return slave_; }
  void Type(const std::string& keys) { pty_.Write(keys); }
  std::string Read(std::size_t count) { return Text(pty_.Read(count, 5000)); }
  termios2 Attributes() const {
    termios2 t{};
    ioctl(slave_, TCGETS2, &t);
    return t;
  }
  // The settings the terminal had before the program ran.
  bool Restored() const {
    const termios2 now = Attributes();
    return now.c_iflag == before_.c_iflag && now.c_oflag == before_.c_oflag &&
           now.c_cflag == before_.c_cflag && now.c_lflag == before_.c_lflag &&
           std::equal(std::begin(now.c_cc), std::end(now.c_cc), std::begin(before_.c_cc));
  }
  // Output shown byte for byte (no LF to CR LF), as a raw screen would.
  void ShowBytesAsTheyAre() {
    termios2 t = Attributes();
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    ioctl(slave_, TCSETS2, &t);
    before_ = t;
  }

 private:
  PtyPair pty_;
  int slave_;
  termios2 before_{};
};

// The program on a device pty with the screen as its terminal.
struct Session {
  PtyPair device;
  Screen screen;
  std::unique_ptr<Program> program;

  explicit Session(std::vector<std::string> options = {}, bool plainScreen = false) {
    if (plainScreen) screen.ShowBytesAsTheyAre();
    std::vector<std::string> args{"serial", device.SlavePath()};
    args.insert(args.end(), options.begin(), options.end());
    program = std::make_unique<Program>(args, screen.Slave(), screen.Slave());
  }
  bool Ready() { return program->WaitForErr("Ctrl-A Ctrl-X exits"); }
  std::string AtDevice(std::size_t count) { return Text(device.Read(count, 5000)); }
};

TEST(QuorlinkTerminal, KeysGoOutAsTypedAndTheExitKeyRestoresTheTerminal) {
  Session s;
  ASSERT_TRUE(s.Ready()) << s.program->ErrSoFar();
  // Raw while it runs: no line editing, no echo, no signal keys.
  EXPECT_EQ(s.screen.Attributes().c_lflag & (ICANON | ECHO | ISIG), 0u);

  s.screen.Type("a");  // no Enter: it goes out at once
  EXPECT_EQ(s.AtDevice(1), "a");
  s.screen.Type("\x03\r");  // Ctrl-C is the device's, Enter is CR
  EXPECT_EQ(s.AtDevice(2), "\x03\r");

  // What the device says reaches the screen, shown as the terminal shows
  // a new line; nothing typed was echoed before it.
  ASSERT_TRUE(s.device.Write("hello\n"));
  EXPECT_EQ(s.screen.Read(7), "hello\r\n");

  s.screen.Type("\x01\x08");  // Ctrl-A Ctrl-H
  EXPECT_TRUE(s.program->WaitForErr("Ctrl-H shows this")) << s.program->ErrSoFar();
  s.screen.Type("b\x01\x01\x01\x18");  // a key, Ctrl-A sent as itself, then exit
  EXPECT_EQ(s.AtDevice(2), "b\x01");
  const Exit e = s.program->Wait(15000);
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_TRUE(s.screen.Restored());
}

TEST(QuorlinkTerminal, MapsEchoAndLog) {
  char logPath[] = "/tmp/quorlink-log-XXXXXX";
  const int logFd = mkstemp(logPath);
  ASSERT_GE(logFd, 0);
  ::close(logFd);
  {
    Session s({"--omap", "crlf", "--imap", "crcrlf,ignlf", "--echo", "--log", logPath}, true);
    ASSERT_TRUE(s.Ready()) << s.program->ErrSoFar();
    s.screen.Type("at\r");
    EXPECT_EQ(s.AtDevice(3), "at\n");
    EXPECT_EQ(s.screen.Read(3), "at\n");  // the echo: what was sent
    ASSERT_TRUE(s.device.Write("OK\r\n"));
    EXPECT_EQ(s.screen.Read(4), "OK\r\n");
    s.screen.Type("\x01\x18");
    EXPECT_EQ(s.program->Wait(15000).code, 0);
    EXPECT_TRUE(s.screen.Restored());
  }
  std::ifstream log(logPath, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), "OK\r\n");
  std::remove(logPath);
}

TEST(QuorlinkTerminal, HexViewShowsEveryByte) {
  Session s({"--hex"}, true);
  ASSERT_TRUE(s.Ready()) << s.program->ErrSoFar();
  const std::string bytes("AT\r\n\x00\xff", 6);
  ASSERT_TRUE(s.device.Write(bytes));
  const std::string row = "41 54 0d 0a 00 ff" + std::string(31, ' ') + " AT....\n";
  EXPECT_EQ(s.screen.Read(row.size()), row);
  s.screen.Type("\x01\x18");
  EXPECT_EQ(s.program->Wait(15000).code, 0);
}

// However the program is stopped, the terminal is left as it was.
TEST(QuorlinkTerminal, SignalsRestoreTheTerminal) {
  for (int signal : {SIGTERM, SIGHUP}) {
    Session s;
    ASSERT_TRUE(s.Ready()) << s.program->ErrSoFar();
    EXPECT_FALSE(s.screen.Restored());
    s.program->Signal(signal);
    const Exit e = s.program->Wait(15000);
    EXPECT_EQ(e.code, 1) << signal;  // ended from outside: not a success
    EXPECT_TRUE(s.screen.Restored()) << signal;
  }
}

// A rate outside the enumeration reaches the device: read back on a
// descriptor the test opened before the program ran.
TEST(QuorlinkTerminal, OpensAt921600Baud) {
  PtyPair device;
  const int fd = ::open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  Screen screen;
  Program p({"serial", device.SlavePath(), "--baud", "921600"}, screen.Slave(), screen.Slave());
  ASSERT_TRUE(p.WaitForErr("Ctrl-A Ctrl-X exits")) << p.ErrSoFar();
  EXPECT_NE(p.ErrSoFar().find("at 921600 baud, 8N1"), std::string::npos) << p.ErrSoFar();
  termios2 t{};
  ASSERT_EQ(ioctl(fd, TCGETS2, &t), 0);
  EXPECT_EQ(t.c_ospeed, 921600u);
  EXPECT_EQ(t.c_ispeed, 921600u);
  screen.Type("z\x01\x18");
  EXPECT_EQ(Text(device.Read(1)), "z");
  EXPECT_EQ(p.Wait(15000).code, 0);
  ::close(fd);
}

// The port's keys: each says what it did (a pty has no modem lines, takes a
// break and any rate), a key that is no command says so and sends nothing,
// and the link goes on after each.
TEST(QuorlinkTerminal, PortKeysAndUnknownKeysSayWhatTheyDid) {
  Session s({"--baud", "9600"});
  ASSERT_TRUE(s.Ready()) << s.program->ErrSoFar();
  const std::pair<std::string, std::string> keys[] = {
      {"\x01q", "Ctrl-A q is not a command"},
      {"\x01\x16", "modem lines unknown"},
      {"\x01\x14", "Can not write data to connection. The request is not supported."},  // DTR
      {"\x01\x1c", "break sent"},
      {"\x01\x15", "now 19200 baud, 8N1"},
      {"\x01\x04", "now 9600 baud, 8N1"},
      {"\x01\x08", "Ctrl-T toggles DTR"}};
  for (const auto& [typed, said] : keys) {
    s.screen.Type(typed);
    EXPECT_TRUE(s.program->WaitForErr(said)) << s.program->ErrSoFar();
  }
  s.screen.Type("x");
  EXPECT_EQ(s.AtDevice(1), "x");  // nothing of the keys above went out
  s.screen.Type("\x01\x18");
  EXPECT_EQ(s.program->Wait(15000).code, 0);
}

// Enter is echoed as a new line; each line that arrives starts with the time;
// the port's earlier settings come back on exit unless --noreset.
TEST(QuorlinkTerminal, EchoTimestampsAndTheEarlierSettingsPutBack) {
  PtyPair device;
  const int fd = ::open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  auto speed = [&] {
    termios2 t{};
    ioctl(fd, TCGETS2, &t);
    return t.c_ospeed;
  };
  termios2 t{};
  ASSERT_EQ(ioctl(fd, TCGETS2, &t), 0);
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CBAUD)) | B4800;
  t.c_ispeed = t.c_ospeed = 4800;
  ASSERT_EQ(ioctl(fd, TCSETS2, &t), 0);
  for (bool noreset : {false, true}) {
    Screen screen;
    screen.ShowBytesAsTheyAre();
    std::vector<std::string> args{"serial", device.SlavePath(), "--echo", "--timestamps"};
    if (noreset) args.push_back("--noreset");
    Program p(args, screen.Slave(), screen.Slave());
    ASSERT_TRUE(p.WaitForErr("Ctrl-A Ctrl-X exits")) << p.ErrSoFar();
    EXPECT_EQ(speed(), 115200u);
    screen.Type("at\r");
    EXPECT_EQ(screen.Read(4), "at\r\n");
    EXPECT_EQ(Text(device.Read(3)), "at\r");
    ASSERT_TRUE(device.Write("OK\nnext\n"));
    const std::string shown = screen.Read(38);  // "[hh:mm:ss.mmm] OK\n", then next
    ASSERT_EQ(shown.size(), 38u) << shown;
    EXPECT_EQ(shown[0], '[');
    EXPECT_EQ(shown.substr(13, 5), "] OK\n") << shown;
    EXPECT_EQ(shown[18], '[') << shown;
    EXPECT_EQ(shown.substr(31), "] next\n") << shown;
    screen.Type("\x01\x18");
    EXPECT_EQ(p.Wait(15000).code, 0);
    EXPECT_EQ(speed(), noreset ? 115200u : 4800u) << noreset;
    if (noreset) break;
  }
  ::close(fd);
}

// A device that goes away ends the program with 1, saying so; with
// --reconnect the program waits and opens it again when it returns.
TEST(QuorlinkTerminal, ADeviceThatGoesAwayIsToldOrWaitedFor) {
  {
    Session s;
    ASSERT_TRUE(s.Ready()) << s.program->ErrSoFar();
    s.device.CloseMaster();
    const Exit e = s.program->Wait(15000);
    EXPECT_EQ(e.code, 1);
    EXPECT_TRUE(tools::Has(e.err, "went away")) << e.err;
    EXPECT_TRUE(s.screen.Restored());
  }
  Session s({"--reconnect"});
  ASSERT_TRUE(s.Ready()) << s.program->ErrSoFar();
  const int fd = ::open(s.device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  const int hung = ioctl(fd, TIOCVHANGUP);
  ::close(fd);
  if (hung != 0) GTEST_SKIP() << "TIOCVHANGUP needs CAP_SYS_ADMIN";
  EXPECT_TRUE(s.program->WaitForErr("waiting for")) << s.program->ErrSoFar();
  EXPECT_TRUE(s.program->WaitForErr("is back")) << s.program->ErrSoFar();
  s.screen.Type("y");
  EXPECT_EQ(s.AtDevice(1), "y");
  s.screen.Type("\x01\x18");
  EXPECT_EQ(s.program->Wait(15000).code, 0);
}

// `bt connect` is the same terminal: raw keys, maps, hex view, exit key.
TEST(QuorlinkTerminal, BluetoothConnectHasTheSameTerminal) {
  char dir[] = "/tmp/quorlink-radios-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string server = "(00:DE:AD:00:00:01)";
  {
    Program echo({"bt", "listen", "--dir", dir, "--radio", server, "--echo"});
    ASSERT_TRUE(echo.WaitForErr("virtual radio is")) << echo.ErrSoFar();
    Screen screen;
    screen.ShowBytesAsTheyAre();
    Program p({"bt", "connect", server, "--dir", dir, "--radio", "(00:DE:AD:00:00:02)", "--omap",
               "crlf", "--hex"},
              screen.Slave(), screen.Slave());
    ASSERT_TRUE(p.WaitForErr("Ctrl-A Ctrl-X exits")) << p.ErrSoFar();
    screen.Type("ok\r");
    const std::string row = "6f 6b 0a" + std::string(40, ' ') + " ok.\n";
    EXPECT_EQ(screen.Read(row.size()), row);
    screen.Type("\x01\x18");
    const Exit e = p.Wait(15000);
    EXPECT_EQ(e.code, 0) << e.err;
    EXPECT_TRUE(screen.Restored());
    echo.Signal(SIGTERM);
    EXPECT_EQ(echo.Wait(15000).code, 0);
  }
  std::filesystem::remove_all(dir);
}

// The designer's prompt keeps what was typed for the next session.
TEST(QuorlinkTerminal, InspectKeepsItsHistoryBetweenSessions) {
  const std::string state = MakeTempDir("quorlink-state-");
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  // Reads the screen until it shows `part` (each byte bounded in time).
  auto shows = [](Screen& screen, const std::string& part) {
    std::string seen;
    while (seen.find(part) == std::string::npos && seen.size() < 65536) {
      const std::string next = screen.Read(1);
      if (next.empty()) return false;
      seen += next;
    }
    return seen.find(part) != std::string::npos;
  };
  auto session = [&](const std::string& keys) {
    Screen screen;
    Program p({"inspect"}, screen.Slave(), screen.Slave());
    EXPECT_TRUE(shows(screen, "inspect> "));
    screen.Type(keys);
    const bool palette = shows(screen, "TQuorBluetooth");
    screen.Type("quit\r");
    EXPECT_EQ(p.Wait(15000).code, 0);
    return palette;
  };
  if (!session("palette\r")) {
    ::unsetenv("XDG_STATE_HOME");
    std::filesystem::remove_all(state);
    FAIL() << "no palette";
  }
  std::ifstream kept(state + "/quorlink/inspect_history");
  const std::string history{std::istreambuf_iterator<char>(kept), {}};
  if (history.empty()) {
    ::unsetenv("XDG_STATE_HOME");
    std::filesystem::remove_all(state);
    GTEST_SKIP() << "built without libedit: no history";
  }
  EXPECT_NE(history.find("palette"), std::string::npos) << history;
  EXPECT_TRUE(session("\x1b[A\x1b[A\r")) << "Up, Up (past quit), Enter: the line again";
  ::unsetenv("XDG_STATE_HOME");
  std::filesystem::remove_all(state);
}

}  // namespace
}  // namespace quorlink::testing
