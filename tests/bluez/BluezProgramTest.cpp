// quorlink bt listen and connect against the stand-in bluetoothd (--bus):
// they say they use BlueZ, a link handed to the listener carries bytes, and
// a refused connect ends with BlueZ's reason.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "bluez/BluezStandIn.h"
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

TEST(BluezProgram, ListenAndConnectUseBlueZOnTheNamedBus) {
  if (auto missing = BluezStandIn::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  BluezStandIn bus(kRadio);
  ASSERT_TRUE(bus.Ready());

  tools::Program listener({"bt", "listen", "--echo", "--name", "Echo", "--bus", bus.Address()});
  ASSERT_TRUE(listener.Started());
  std::string profile;
  ASSERT_TRUE(WaitFor([&] {
    const std::string json = bus.Profiles();
    const auto at = json.find("/org/quorlink/bluez/");
    if (at != std::string::npos) profile = json.substr(at, json.find('"', at) - at);
    return !profile.empty();
  })) << listener.ErrSoFar();
  EXPECT_TRUE(Has(bus.Profiles(), "\"Name\": \"Echo\""));
  auto peers = bus.Peers();
  ASSERT_EQ(peers.size(), 1u);
  const int far = bus.NewLink(peers[0], profile, kHeadset);
  ASSERT_GE(far, 0);
  ASSERT_EQ(::send(far, "hello", 5, 0), 5);
  std::string echoed;
  WaitFor([&] {
    char buffer[16];
    const ssize_t n = ::recv(far, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) echoed.append(buffer, static_cast<std::size_t>(n));
    return echoed.size() >= 5;
  });
  EXPECT_EQ(echoed, "hello");
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

}  // namespace
}  // namespace quorlink::testing
