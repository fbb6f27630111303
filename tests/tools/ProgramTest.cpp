// The quorlink program as its users run it, on every system: its version,
// help and usage errors, the demo and the About text, the reason and exit
// code of a failure, a serial terminal fed from a pipe (every byte arrives,
// unchanged), a Bluetooth server and client over the virtual radio, and the
// form inspector run from a pipe.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>

#include "OsTestSupport.h"
#include "comport/ComPortTestSupport.h"
#include "design/FormFile.h"
#include "quorlink/core/SysUtils.h"
#include "quorlink/core/Version.h"
#include "quorlink/design/PaletteBitmaps.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing {
namespace {

using tools::Exit;
using tools::Feeder;
using tools::Has;
using tools::Program;
using tools::RunProgram;

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 31 + i / 509);
  return data;
}

TEST(QuorlinkProgram, VersionHelpAndUsageErrors) {
  Exit e = RunProgram({"--version"});
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_TRUE(Has(e.out, QUORLINK_VERSION_STRING)) << e.out;
  EXPECT_TRUE(e.err.empty()) << e.err;

  e = RunProgram({"--help"});
  EXPECT_EQ(e.code, 0) << e.err;
  for (const char* command : {"Usage: quorlink COMMAND", "demo", "about", "serial PORT", "bt ",
                              "ports", "inspect", "Exit codes:"})
    EXPECT_TRUE(Has(e.out, command)) << command << "\n" << e.out;

  // No command is a usage error that still shows the help.
  e = RunProgram({});
  EXPECT_EQ(e.code, 2);
  EXPECT_TRUE(Has(e.out, "Usage: quorlink COMMAND")) << e.out;

  e = RunProgram({"frobnicate"});
  EXPECT_EQ(e.code, 2);
  EXPECT_TRUE(Has(e.err, "unknown command 'frobnicate'")) << e.err;

  e = RunProgram({"demo", "--bogus"});
  EXPECT_EQ(e.code, 2);
  EXPECT_TRUE(Has(e.err, "usage: quorlink demo")) << e.err;
}

TEST(QuorlinkProgram, CommandHelpPrintsUsageAndTheExitCodes) {
  const std::vector<std::vector<std::string>> commands = {
      {"serial"},       {"bt"},           {"ports"},         {"inspect"},
      {"bt", "radios"}, {"bt", "listen"}, {"bt", "connect"}, {"bt", "devices"},
      {"bt", "select"}};
  for (auto args : commands) {
    std::string name = "usage: quorlink";
    for (const auto& a : args) name += " " + a;
    args.push_back("--help");
    const Exit e = RunProgram(args);
    EXPECT_EQ(e.code, 0) << name;
    EXPECT_TRUE(Has(e.out, name)) << e.out;
    EXPECT_TRUE(Has(e.out, "Exit codes:")) << e.out;
    EXPECT_TRUE(e.err.empty()) << e.err;
    // Every option the command takes is in its usage (the part before the
    // first empty line).
    const std::string usage = e.out.substr(0, e.out.find("\n\n"));
    std::istringstream lines(e.out.substr(usage.size()));
    for (std::string line; std::getline(lines, line);) {
      const auto at = line.find_first_not_of(' ');
      if (at == 0 || at == std::string::npos || line.compare(at, 2, "--") != 0) continue;
      const std::string option = line.substr(at, line.find_first_of(" ,", at) - at);
      if (option != "--help") {
        EXPECT_TRUE(Has(usage, option)) << name << " lacks " << option;
      }
    }
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

// Both sections run and pass, each with its calls and events.
TEST(QuorlinkProgram, DemoRunsBothSections) {
  Program p({"demo"});
  const Exit e = p.Wait(90000);
  EXPECT_EQ(e.code, 0) << e.out << e.err;
  EXPECT_TRUE(Has(e.out, "== Serial port on a cable")) << e.out;
  EXPECT_TRUE(Has(e.out, "== Bluetooth RFCOMM on two virtual radios")) << e.out;
  EXPECT_TRUE(Has(e.out, "server OnRead")) << e.out;
  EXPECT_TRUE(Has(e.out, "Demo finished: 2 section(s), 0 failed.")) << e.out;
}

// Without a display the About box is text, and nothing waits for a key.
TEST(QuorlinkProgram, AboutShowsTheLibraryAndEnds) {
  const Exit e = RunProgram({"about"});
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_TRUE(Has(e.out + e.err, "Quorlink")) << e.out << e.err;
  EXPECT_TRUE(Has(e.out + e.err, "1.1")) << e.out << e.err;
}

// A port that is not there: the library's message, the system's reason, 3.
TEST(QuorlinkProgram, AMissingPortSaysWhyAndExits3) {
  const Exit e = RunProgram({"serial", "COM199"});
  EXPECT_EQ(e.code, 3) << e.err;
  EXPECT_TRUE(
      Has(e.err, "Can not open connection. (COM199): " + SysErrorMessage(ERROR_FILE_NOT_FOUND)))
      << e.err;
}

// From a pipe every byte is the device's, the terminal's command key too,
// and the end of input ends the program once all is sent.
TEST(QuorlinkProgram, APipeIsBinaryClean) {
  SerialCable cable;
  const std::string bytes("\x01\x18\x01\x08\x03\r\n\x00\xff\x1a", 10);
  Exit e;
  {
    Feeder input(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    Program p({"serial", cable.PortPath()}, input.ReadEnd());
    const auto got = cable.Read(bytes.size(), 15000);
    EXPECT_EQ(std::string(got.begin(), got.end()), bytes);
    e = p.Wait(15000);
  }
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_TRUE(Has(e.err, "end of input or Ctrl-C closes it")) << e.err;
  EXPECT_FALSE(Has(e.err, "Ctrl-A")) << e.err;
}

// What the device sends reaches standard output as it came, and a large
// input arrives whole and in order (it outruns the pipe and the port's
// queues many times).
TEST(QuorlinkProgram, SerialCarriesBothWaysWhole) {
  SerialCable cable;
  const auto data = Pattern((1 << 20) / static_cast<std::size_t>(kStressScale));
  Exit e;
  {
    Feeder input(data, true);
    Program p({"serial", cable.PortPath()}, input.ReadEnd());
    ASSERT_TRUE(p.WaitForErr("open as", 30000)) << p.ErrSoFar();
    const std::string reply("OK\r\n\x00\xff", 6);
    ASSERT_TRUE(cable.Write(reply));
    EXPECT_TRUE(p.WaitForOut(reply, 15000)) << p.OutSoFar().size();
    const auto got = cable.Read(data.size(), 60000);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
    input.End();
    e = p.Wait(30000);
  }
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(e.out, std::string("OK\r\n\x00\xff", 6));
}

// A server and a client terminal on two virtual radios, standard input and
// output as pipes: the bytes go both ways, the end of the client's input
// closes its link, and an interrupt stops the server with success.
TEST(QuorlinkProgram, BluetoothListenAndConnectOverPipes) {
  const std::string dir = MakeTempDir("quorlink-radios-");
  ASSERT_FALSE(dir.empty());
  const std::string server = "(00:DE:AD:00:00:01)";
  {
    Program listen({"bt", "listen", "--virtual", "--dir", dir, "--radio", server, "--radio-name",
                    "Echo radio", "--echo"});
    ASSERT_TRUE(listen.WaitForOut("listening on", 30000)) << listen.ErrSoFar();
    // Another program sees the server's radio in the same rendezvous.
    const Exit radios = RunProgram({"bt", "radios", "--virtual", "--dir", dir});
    EXPECT_EQ(radios.code, 0) << radios.err;
    EXPECT_TRUE(Has(radios.out, server + " Echo radio")) << radios.out << radios.err;
    // A radio another program holds: in use, exit 4, one line.
    const Exit taken = RunProgram({"bt", "listen", "--virtual", "--dir", dir, "--radio", server});
    EXPECT_EQ(taken.code, 4) << taken.err;
    EXPECT_TRUE(Has(taken.err, "in use")) << taken.err;
    Feeder input({'p', 'i', 'n', 'g', '\n'}, true);
    Program connect({"bt", "connect", server, "--virtual", "--dir", dir, "--radio",
                     "(00:DE:AD:00:00:02)", "--omap", "lfcrlf"},
                    input.ReadEnd());
    // (The server's log is text: Windows ends its lines with CR LF.)
    EXPECT_TRUE(listen.WaitForOut("link 1 read 6 bytes: ping", 30000))
        << listen.OutSoFar() << listen.ErrSoFar();
    EXPECT_TRUE(connect.WaitForOut("ping\r\n", 15000)) << connect.ErrSoFar();
    EXPECT_TRUE(Has(connect.ErrSoFar(), "connected to " + server)) << connect.ErrSoFar();
    input.End();
    const Exit c = connect.Wait(30000);
    EXPECT_EQ(c.code, 0) << c.err;
    EXPECT_EQ(c.out, "ping\r\n");
    EXPECT_TRUE(listen.WaitForOut("link 1 disconnected", 15000)) << listen.OutSoFar();
    // Wine cannot raise a console break in another process: there the
    // server is ended by the test instead.
    if (listen.Signal(SIGINT) || !UnderWine()) {
      const Exit l = listen.Wait(30000);
      EXPECT_EQ(l.code, 0) << l.err;
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

// A script on standard input stops at the first failure and names it; what
// a form file gets is written only by a script that gets that far.
TEST(QuorlinkProgram, InspectRunsAScriptFromAPipeAndWritesBitmaps) {
  const std::string dir = MakeTempDir("quorlink-inspect-");
  ASSERT_FALSE(dir.empty());
  const std::string form = dir + "/Main.qfm";
  auto run = [](const std::vector<std::string>& args, const std::string& script) {
    Feeder input(std::vector<std::uint8_t>(script.begin(), script.end()));
    Program p(args, input.ReadEnd());
    return p.Wait();
  };
  Exit e = run({"inspect"}, "# a comment\nnew TQuorComPort\nset Port 7\nwrite " + form + "\n");
  EXPECT_EQ(e.code, 0) << e.out << e.err;
  EXPECT_TRUE(Has(LoadFormFile(form), "Port = 7"));

  e = run({"inspect", "-"}, "new TQuorBluetooth\nset Address x\nwrite " + form + "\n");
  EXPECT_EQ(e.code, 1) << e.out << e.err;
  EXPECT_TRUE(Has(e.out + e.err, "stopped at standard input:2")) << e.out << e.err;
  EXPECT_TRUE(Has(LoadFormFile(form), "Port = 7"));  // not written over

  const std::string bitmap = dir + "/bt.bmp";
  e = run({"inspect", "--bitmap", "TQUORBLUETOOTH", bitmap}, "");
  EXPECT_EQ(e.code, 0) << e.err;
  const auto* expected = FindPaletteBitmap("TQUORBLUETOOTH");
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(LoadFormFile(bitmap), std::string(expected->begin(), expected->end()));
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace quorlink::testing
