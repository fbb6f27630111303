// The quorlink program on ptys: how each kind of serial failure is told, a
// device slower than the pipe, an interrupt while much is pending, and ptys
// bound to COM names. Ptys and signals are POSIX's.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include "comport/ComPortTestSupport.h"
#include "support/PtyPair.h"
#include "support/SlowDevice.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing {
namespace {

using tools::Exit;
using tools::Feeder;
using tools::Has;
using tools::Program;
using tools::RunProgram;

// Each kind of failure says why, after the library's own message, and has
// its own exit code.
TEST(QuorlinkProgram, SerialOpenFailuresSayWhyAndExitByKind) {
  Exit e = RunProgram({"serial", "/nonexistent/tty"});
  EXPECT_EQ(e.code, 3);
  EXPECT_TRUE(Has(e.err, "Can not open connection. (/nonexistent/tty): The system cannot find"))
      << e.err;

  // Whatever is not a terminal device is told as that: a file, a directory.
  for (const char* path : {"/dev/null", "/tmp"}) {
    e = RunProgram({"serial", path});
    EXPECT_EQ(e.code, 3) << path;
    EXPECT_TRUE(Has(e.err, "not a serial device")) << e.err;
  }
  // A COM name past the numbers there are is a bad command line.
  for (const char* name : {"COM0", "COM256"}) {
    e = RunProgram({"serial", name});
    EXPECT_EQ(e.code, 2) << name << e.err;
    EXPECT_TRUE(Has(e.err, "COM1 to COM255")) << e.err;
  }

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

// A rendezvous others may write to is refused, with what to do about it.
TEST(QuorlinkProgram, AnOpenRendezvousIsRefusedWithTheFix) {
  char pattern[] = "/tmp/quorlink-open-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  ASSERT_EQ(chmod(pattern, 0777), 0);
  const Exit e = RunProgram({"bt", "radios", "--virtual", "--dir", pattern});
  rmdir(pattern);
  EXPECT_EQ(e.code, 4) << e.err;
  EXPECT_TRUE(Has(e.err, "chmod 700")) << e.err;
}

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
