// quorlink bt listen and connect against the stand-in bluetoothd (--bus):
// they say they use BlueZ, a link handed to the listener carries bytes, and
// a refused connect ends with BlueZ's reason.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "bluez/BluezStandIn.h"
#include "support/PtyPair.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing {
namespace {

const char* const kRadio = R"({
  "adapters": [{"name": "hci0", "alias": "Desk radio"}],
  "devices": [{"adapter": "hci0", "address": "AA:BB:CC:DD:EE:01", "alias": "Headset",
               "paired": true}]})";
const char* const kHeadset = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Polls (the program runs in another process) until done or ten seconds.
bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The object path of the profile the program under test registered, once
// there is one (or ten seconds: empty).
std::string ProgramProfile(const BluezStandIn& bus) {
  std::string profile;
  WaitFor([&] {
    const std::string json = bus.Profiles();
    const auto at = json.find("/org/quorlink/bluez/");
    if (at != std::string::npos) profile = json.substr(at, json.find('"', at) - at);
    return !profile.empty();
  });
  return profile;
}

// What the far end of a link receives, once it has size bytes (or ten seconds).
std::string Receive(int far, std::size_t size) {
  std::string got;
  WaitFor([&] {
    char buffer[64];
    const ssize_t n = ::recv(far, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    return got.size() >= size;
  });
  return got;
}

TEST(BluezProgram, ListenAndConnectUseBlueZOnTheNamedBus) {
  if (auto missing = BluezStandIn::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  BluezStandIn bus(kRadio);
  ASSERT_TRUE(bus.Ready());

  tools::Program listener({"bt", "listen", "--echo", "--name", "Echo", "--bus", bus.Address()});
  ASSERT_TRUE(listener.Started());
  const std::string profile = ProgramProfile(bus);
  ASSERT_FALSE(profile.empty()) << listener.ErrSoFar();
  EXPECT_TRUE(Has(bus.Profiles(), "\"Name\": \"Echo\""));
  auto peers = bus.Peers();
  ASSERT_EQ(peers.size(), 1u);
  const int far = bus.NewLink(peers[0], profile, kHeadset);
  ASSERT_GE(far, 0);
  ASSERT_EQ(::send(far, "hello", 5, 0), 5);
  EXPECT_EQ(Receive(far, 5), "hello");
  ::close(far);
  listener.Signal(SIGINT);
  const tools::Exit served = listener.Wait();
  EXPECT_EQ(served.code, 0) << served.err;
  EXPECT_TRUE(Has(served.err, "using BlueZ")) << served.err;
  EXPECT_TRUE(Has(served.out, "read 5 bytes: hello")) << served.out;
  EXPECT_TRUE(Has(served.out, "(AA:BB:CC:DD:EE:01)")) << served.out;
  // Its close unregistered the profile.
  EXPECT_EQ(bus.Profiles(), "{}");

  bus.SetConnect(kHeadset, "", "org.bluez.Error.Failed", "Host is down");
  tools::Program client({"bt", "connect", "(AA:BB:CC:DD:EE:01)", "--bus", bus.Address()});
  const tools::Exit refused = client.Wait();
  EXPECT_NE(refused.code, 0);
  EXPECT_TRUE(Has(refused.err, "using BlueZ")) << refused.err;
  EXPECT_TRUE(Has(refused.err, "down")) << refused.err;
}

const char* const kNamed = R"({
  "adapters": [{"name": "hci0", "alias": "Caf\u00e9 \u2615 \u0141\u00f3d\u017a"},
               {"name": "hci1", "alias": "Off", "powered": false}],
  "devices": [{"adapter": "hci0", "address": "AA:BB:CC:DD:EE:01", "alias": "Z\u00fcrich \u2615",
               "connected": true, "paired": true},
              {"adapter": "hci0", "address": "AA:BB:CC:DD:EE:03", "alias": "Wants a PIN",
               "pair_error": "org.bluez.Error.AuthenticationFailed"},
              {"adapter": "hci1", "address": "AA:BB:CC:DD:EE:02", "alias": "Unreachable"}]})";

// Names, bytes and service names as the user gives and sees them.
TEST(BluezProgram, NamesBytesAndServicesGoInAndComeOutAsTheyAre) {
  if (auto missing = BluezStandIn::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  BluezStandIn bus(kNamed);
  ASSERT_TRUE(bus.Ready());
  const tools::Exit radios = tools::Program({"bt", "radios", "--bus", bus.Address()}).Wait();
  EXPECT_TRUE(Has(radios.out, "Caf\u00e9 \u2615 \u0141\u00f3d\u017a")) << radios.out;
  const tools::Exit devices = tools::Program({"bt", "devices", "--bus", bus.Address()}).Wait();
  EXPECT_TRUE(Has(devices.out, "Z\u00fcrich \u2615")) << devices.out;

  // The help's own example; the record is named after the service.
  int typed[2];
  ASSERT_EQ(::pipe2(typed, O_CLOEXEC), 0);
  tools::Program listener({"bt", "listen", "--service", "Serial Port", "--bus", bus.Address()},
                          typed[0]);
  ::close(typed[0]);
  const std::string profile = ProgramProfile(bus);
  ASSERT_FALSE(profile.empty()) << listener.ErrSoFar();
  EXPECT_TRUE(Has(bus.Profiles(), "00001101-0000-1000-8000-00805f9b34fb")) << bus.Profiles();
  EXPECT_TRUE(Has(bus.Profiles(), "\"Name\": \"Serial Port\"")) << bus.Profiles();
  const int far = bus.NewLink(bus.Peers().at(0), profile, "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01");
  ASSERT_GE(far, 0);
  // Every byte shows: a NUL, a line end, a byte that is no UTF-8, UTF-8.
  const std::string sent("AB\0CD\n\xFF\xC3\xA9", 9);
  ASSERT_EQ(::send(far, sent.data(), sent.size(), 0), 9);
  EXPECT_TRUE(listener.WaitForOut("read 9 bytes: AB\\x00CD\\n\\xFF\xC3\xA9\n"))
      << listener.OutSoFar();
  // Lines typed go to every link, or to the one named by @N.
  const std::string lines = "hello\n@1 one\n@2 two\n";
  ASSERT_EQ(::write(typed[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  EXPECT_EQ(Receive(far, 10), "hello\none\n");
  EXPECT_TRUE(listener.WaitForErr("no link with that number")) << listener.ErrSoFar();
  ::close(far);
  ::close(typed[1]);
  listener.Signal(SIGINT);
  EXPECT_EQ(listener.Wait().code, 0);

  // UUIDs of three sizes name the same class; a slip gets the nearest name.
  for (const char* uuid : {"0x1101", "00001101", "00001101-0000-1000-8000-00805F9B34FB"}) {
    tools::Program by({"bt", "listen", "--service", uuid, "--bus", bus.Address()});
    EXPECT_TRUE(by.WaitForOut("SerialPortServiceClass")) << uuid << by.ErrSoFar();
    by.Signal(SIGINT);
    by.Wait();
  }
  const tools::Exit slip =
      tools::Program({"bt", "listen", "--service", "Serail Port", "--bus", bus.Address()}).Wait();
  EXPECT_EQ(slip.code, 2);
  EXPECT_TRUE(Has(slip.err, "did you mean \"Serial Port\"")) << slip.err;
  const tools::Exit name =
      tools::Program({"bt", "listen", "--name", "Caf\xE9", "--bus", bus.Address()}).Wait();
  EXPECT_EQ(name.code, 2);
  EXPECT_TRUE(Has(name.err, "not UTF-8")) << name.err;
}

// A failure is one line that says why and what to do, and exits by kind.
TEST(BluezProgram, FailuresSayWhyInOneLineAndExitByKind) {
  if (auto missing = BluezStandIn::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  BluezStandIn bus(kNamed);
  ASSERT_TRUE(bus.Ready());
  auto failureLines = [](const std::string& err) {
    int n = 0;
    for (std::size_t at = 0; (at = err.find("quorlink: ", at)) != std::string::npos; ++at)
      n += err.compare(at, 16, "quorlink: using ") != 0;
    return n;
  };
  // A device bluetoothd has never seen (no parentheses needed).
  const tools::Exit unknown =
      tools::Program({"bt", "connect", "11:22:33:44:55:77", "--bus", bus.Address()}).Wait();
  EXPECT_EQ(unknown.code, 3);
  EXPECT_TRUE(Has(unknown.err, "discovered")) << unknown.err;
  EXPECT_TRUE(Has(unknown.err, "paired first")) << unknown.err;
  EXPECT_FALSE(Has(unknown.err, "10065")) << unknown.err;
  EXPECT_EQ(failureLines(unknown.err), 1) << unknown.err;
  // The code with --verbose.
  const tools::Exit verbose =
      tools::Program({"--verbose", "bt", "connect", "11:22:33:44:55:77", "--bus", bus.Address()})
          .Wait();
  EXPECT_TRUE(Has(verbose.err, "10065")) << verbose.err;
  // A device of a powered-off adapter is not offered; one whose pairing is
  // refused is told as that, not as no choice.
  PtyPair pty;
  const int in = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(in, 0);
  tools::Program select({"bt", "select", "--bus", bus.Address()}, in);
  ASSERT_TRUE(select.WaitForErr("Choose a device")) << select.ErrSoFar();
  EXPECT_FALSE(Has(select.ErrSoFar(), "Unreachable")) << select.ErrSoFar();
  const std::string listing = select.ErrSoFar();
  const auto line = listing.rfind('\n', listing.find("Wants a PIN"));
  const std::string number =
      listing.substr(line + 1, listing.find_first_not_of(" 0123456789", line + 1) - line - 1);
  pty.Write(number + "\n");
  const tools::Exit refused = select.Wait();
  ::close(in);
  EXPECT_EQ(refused.code, 4) << refused.err;
  EXPECT_FALSE(Has(refused.err, "no device chosen")) << refused.err;
  EXPECT_TRUE(Has(refused.err, "did not pair")) << refused.err;
}

}  // namespace
}  // namespace quorlink::testing
