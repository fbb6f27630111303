// The quorlink program as its users run it: the reason and exit code of each
// kind of failure, usage on --help, and a serial session that delivers all
// its input, quits at once on an interrupt, and leaves the port free.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "comport/ComPortTestSupport.h"
#include "support/PtyPair.h"
#include "support/SlowDevice.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing {
namespace {

using tools::Exit;
using tools::Program;

Exit RunProgram(const std::vector<std::string>& args) {
  Program p(args);
  EXPECT_TRUE(p.Started());
  return p.Wait();
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(QuorlinkProgram, CommandHelpPrintsUsageAndTheExitCodes) {
  const std::vector<std::vector<std::string>> commands = {
      {"serial"},       {"bt"},           {"ports"},         {"inspect"},
      {"bt", "radios"}, {"bt", "listen"}, {"bt", "connect"}, {"bt", "devices"}};
  for (auto args : commands) {
    std::string name = "usage: quorlink";
    for (const auto& a : args) name += " " + a;
    args.push_back("--help");
    const Exit e = RunProgram(args);
    EXPECT_EQ(e.code, 0) << name;
    EXPECT_TRUE(Has(e.out, name)) << e.out;
    EXPECT_TRUE(Has(e.out, "Exit codes:")) << e.out;
    EXPECT_TRUE(e.err.empty()) << e.err;
  }
  const Exit serial = RunProgram({"serial", "--help"});
  for (const char* option : {"--baud", "--imap", "--omap", "--hex", "--log", "--echo", "lfcrlf"})
    EXPECT_TRUE(Has(serial.out, option)) << option;
  // Unknown options and missing values are usage errors, with the usage.
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"serial"},
                                              {"serial", "/dev/null", "--bogus"},
                                              {"serial", "/dev/null", "--baud", "0"},
                                              {"serial", "/dev/null", "--imap", "crcr"},
                                              {"serial", "/dev/null", "--baud"},
                                              {"ports", "--bind", "COM0=/dev/null"},
                                              {"bt", "frobnicate"},
                                              {"inspect", "--bitmap", "X"}}) {
    const Exit e = RunProgram(bad);
    EXPECT_EQ(e.code, 2) << bad.back() << e.err;
    EXPECT_TRUE(Has(e.err, "usage: quorlink")) << e.err;
  }
}

// Each kind of failure says why, after the library's own message, and has
// its own exit code.
TEST(QuorlinkProgram, SerialOpenFailuresSayWhyAndExitByKind) {
  Exit e = RunProgram({"serial", "/nonexistent/tty"});
  EXPECT_EQ(e.code, 3);
  EXPECT_TRUE(Has(e.err, "Can not open connection. (/nonexistent/tty): The system cannot find"))
      << e.err;

  e = RunProgram({"serial", "/dev/null"});
  EXPECT_EQ(e.code, 3);
  EXPECT_TRUE(Has(e.err, "not a serial device")) << e.err;

  PtyPair pty;
  // A pty carries 8 data bits without parity only.
  e = RunProgram({"serial", pty.SlavePath(), "--baud", "9600", "--data", "7", "--parity", "even",
                  "--stop", "2"});
  EXPECT_EQ(e.code, 5);
  EXPECT_TRUE(Has(e.err, "Can not open connection.")) << e.err;
  EXPECT_TRUE(Has(e.err, "the device refused 9600 baud, 7E2")) << e.err;

  {
    ScopedComBinding binding(46, pty.SlavePath());
    TQuorComPort holder(nullptr);
    holder.SetPort(46);
    holder.Connect();
    e = RunProgram({"serial", pty.SlavePath()});
    EXPECT_EQ(e.code, 4);
    EXPECT_TRUE(Has(e.err, "in use by another program")) << e.err;
  }

  e = RunProgram({"serial", pty.SlavePath(), "--parity", "sometimes"});
  EXPECT_EQ(e.code, 2);
  EXPECT_TRUE(Has(e.err, "--parity")) << e.err;
  EXPECT_TRUE(Has(e.err, "sometimes")) << e.err;
}

TEST(QuorlinkProgram, AMalformedBluetoothAddressIsAUsageError) {
  for (const char* address : {"xyz", "00:11:22:33:44:55:1", "(00:11:22:33:44:5G)"}) {
    const Exit e = RunProgram({"bt", "connect", address});
    EXPECT_EQ(e.code, 2) << address;
    EXPECT_TRUE(Has(e.err, "(00:11:22:33:44:55)")) << e.err;
    EXPECT_TRUE(Has(e.err, "usage: quorlink bt")) << e.err;
  }
  const Exit e = RunProgram({"bt", "listen", "--service", "No Such Class"});
  EXPECT_EQ(e.code, 2);
  EXPECT_TRUE(Has(e.err, "--service: takes a service class name")) << e.err;
}

// Feeds bytes into a pipe from a thread, closing it at the end.
class Feeder {
 public:
  explicit Feeder(std::vector<std::uint8_t> data) : data_(std::move(data)) {
    signal(SIGPIPE, SIG_IGN);  // the child may quit before it has read all
    if (pipe2(fds_, O_CLOEXEC) != 0) return;
    thread_ = std::thread([this] {
      std::size_t at = 0;
      while (at < data_.size()) {
        const ssize_t n = ::write(fds_[1], data_.data() + at, data_.size() - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
      ::close(fds_[1]);
      done_ = true;
    });
  }
  // Closing the read end first ends a write that nobody takes any more.
  ~Feeder() {
    ::close(fds_[0]);
    if (thread_.joinable()) thread_.join();
  }
  int ReadEnd() const { return fds_[0]; }
  // All written: the reader has taken all but what the pipe holds.
  bool Done() const { return done_.load(); }

 private:
  std::vector<std::uint8_t> data_;
  std::atomic<bool> done_{false};
  int fds_[2] = {-1, -1};
  std::thread thread_;
};

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 31 + i / 509);
  return data;
}

// The port opens at once after the program has ended.
void ExpectOpensAgain(const PtyPair& pty) {
  const Exit again = RunProgram({"serial", pty.SlavePath()});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_TRUE(Has(again.err, "open as")) << again.err;
}

// A pipe into a device slower than the pipe: nothing is lost at end of input.
TEST(QuorlinkProgramThreaded, SerialDeliversAllItsInputToASlowDevice) {
  PtyPair pty;
  const auto data = Pattern(1 << 20);
  SlowDevice device(pty, 4096, 2);
  Exit e;
  {
    Feeder input(data);
    Program p({"serial", pty.SlavePath()}, input.ReadEnd());
    e = p.Wait(60000);
  }
  EXPECT_EQ(e.code, 0) << e.err;
  // At once, while the device may not have read the last bytes yet: the
  // new open must not throw them away.
  ExpectOpensAgain(pty);
  EXPECT_TRUE(comport::PumpUntil([&] { return device.Received() >= data.size(); }, 5000));
  const auto& got = device.Stop();
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
}

// Ctrl-C with most of the input still to send quits without waiting for the
// device, and the port is free for the next run.
TEST(QuorlinkProgramThreaded, SerialQuitsOnAnInterruptWhateverIsPending) {
  PtyPair pty;
  SlowDevice device(pty, 64, 10);  // about 6 KB/s: a megabyte would take minutes
  Exit e;
  {
    Feeder input(Pattern(1 << 20));
    Program p({"serial", pty.SlavePath()}, input.ReadEnd());
    // The program has taken (nearly) all its input: most of it is pending.
    ASSERT_TRUE(comport::PumpUntil([&] { return input.Done() && device.Received() > 0; }, 10000));
    p.Signal(SIGINT);
    e = p.Wait(15000);
  }
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_TRUE(Has(e.err, "interrupted")) << e.err;
  device.Stop();
  ExpectOpensAgain(pty);
}

// From a pipe every byte is the device's, the terminal's command key too.
TEST(QuorlinkProgram, APipeIsBinaryClean) {
  PtyPair pty;
  const std::string bytes("\x01\x18\x01\x08\x03\r\n\x00\xff", 9);
  Exit e;
  {
    Feeder input(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    Program p({"serial", pty.SlavePath()}, input.ReadEnd());
    const auto got = pty.Read(bytes.size());
    EXPECT_EQ(std::string(got.begin(), got.end()), bytes);
    e = p.Wait(15000);
  }
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_TRUE(Has(e.err, "end of input or Ctrl-C closes it")) << e.err;
  EXPECT_FALSE(Has(e.err, "Ctrl-A")) << e.err;
}

// A pty bound to a COM name is listed with it, from the option or the
// environment, and the program opens it by that name.
TEST(QuorlinkProgram, PortsListsBoundPtysAndSerialOpensThemByName) {
  PtyPair a, b;
  ASSERT_EQ(setenv("QUORLINK_BIND", ("COM12=" + b.SlavePath()).c_str(), 1), 0);
  const Exit e = RunProgram({"ports", "--bind", "COM9=" + a.SlavePath()});
  unsetenv("QUORLINK_BIND");
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_TRUE(Has(e.out, a.SlavePath() + "\n  driver:  pty\n  com:     COM9 (bound)\n")) << e.out;
  EXPECT_TRUE(Has(e.out, b.SlavePath() + "\n  driver:  pty\n  com:     COM12 (bound)\n")) << e.out;

  Feeder input(std::vector<std::uint8_t>{'h', 'i'});
  Program p({"serial", "COM9", "--bind", "COM9=" + a.SlavePath(), "--baud", "1000000"},
            input.ReadEnd());
  EXPECT_EQ(a.Read(2), (std::vector<std::uint8_t>{'h', 'i'}));
  const Exit s = p.Wait(15000);
  EXPECT_EQ(s.code, 0) << s.err;
  EXPECT_TRUE(Has(s.err, "COM9 open as COM9 at 1000000 baud, 8N1")) << s.err;
}

}  // namespace
}  // namespace quorlink::testing
