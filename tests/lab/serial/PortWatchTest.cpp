// The port listing and watcher on the real cdc_acm driver: the gadget as the
// listing shows it, and its bind and unbind as the watcher reports them.
// Times are printed for the record, never checked.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "comport/ProcessCounters.h"
#include "lab/serial/LabSerial.h"
#include "quorlink/comport/QuorPortList.h"
#include "quorlink/comport/QuorPortWatcher.h"
#include "quorlink/core/Application.h"

namespace quorlink::testing::lab {
namespace {

using Clock = std::chrono::steady_clock;

std::string Gadget(const std::string& file) {
  std::string line;
  std::getline(std::ifstream(Env("QUORLINK_LAB_GADGET") + "/" + file), line);
  return line.starts_with("0x") ? line.substr(2) : line;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Runs the loop until done() holds; false after ten seconds without.
template <class F>
bool RunUntil(F done) {
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (!done() && Clock::now() < end) platform::Messages().ProcessMessage(100);
  return done();
}

TEST_F(LabSerial, PortsListTheGadgetWithItsOwnIdsAndStrings) {
  const auto ports = ListComPorts();
  auto it = std::find_if(ports.begin(), ports.end(),
                         [](const TQuorPortInfo& p) { return p.Path == Env("QUORLINK_LAB_PORT"); });
  ASSERT_NE(it, ports.end());
  EXPECT_EQ(it->Driver, "cdc_acm");
  EXPECT_EQ(it->Bus, "usb");
  EXPECT_EQ(it->VendorId, Gadget("idVendor"));
  EXPECT_EQ(it->ProductId, Gadget("idProduct"));
  EXPECT_EQ(it->Manufacturer, Gadget("strings/0x409/manufacturer"));
  EXPECT_EQ(it->Product, Gadget("strings/0x409/product"));
  EXPECT_EQ(it->SerialNumber, Gadget("strings/0x409/serialnumber"));
  EXPECT_EQ(it->Interface, "00");  // the ACM function's control interface
  EXPECT_TRUE(it->Matches("COM42"));

  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i) ListComPorts();
  std::printf("lab: listing %zu port(s): %.3f ms\n", ports.size(), Ms(Clock::now() - start) / 100);
}

// Unbind then bind, 50 times: one removal and one arrival each, in order,
// the arrival with the gadget's strings, and no descriptor left behind.
TEST_F(LabSerial, PortsWatcherSeesEachUnbindAndBindOnceInOrder) {
  const int before = comport::HandleCount();
  std::vector<std::string> events;
  std::vector<double> latencies;
  Clock::time_point arrived;
  {
    TQuorPortWatcher watcher(nullptr);
    watcher.OnArrival = [&](TQuorPortWatcher*, const TQuorPortInfo& p) {
      events.push_back("+" + p.Path + " " + p.SerialNumber);
      arrived = Clock::now();
    };
    watcher.OnRemoval = [&](TQuorPortWatcher*, const TQuorPortInfo& p) {
      events.push_back("-" + p.Path + " " + p.SerialNumber);
    };
    watcher.SetActive(true);
    int during = 0;
    for (std::size_t cycle = 0; cycle < 50; ++cycle) {
      ASSERT_TRUE(P().cable.Unplug());
      ASSERT_TRUE(RunUntil([&] { return events.size() == 2 * cycle + 1; })) << cycle;
      const auto plugged = Clock::now();
      std::ofstream(Env("QUORLINK_LAB_GADGET") + "/UDC") << "dummy_udc.0\n";
      ASSERT_TRUE(RunUntil([&] { return events.size() == 2 * cycle + 2; })) << cycle;
      latencies.push_back(Ms(arrived - plugged));
      if (cycle == 0) during = comport::HandleCount();
    }
    Application().ProcessMessages();
    EXPECT_EQ(comport::HandleCount(), during);
  }
  EXPECT_EQ(comport::HandleCount(), before);
  const std::string port = Env("QUORLINK_LAB_PORT") + " " + Gadget("strings/0x409/serialnumber");
  std::vector<std::string> expected;
  for (int i = 0; i < 50; ++i) {
    expected.push_back("-" + port);
    expected.push_back("+" + port);
  }
  EXPECT_EQ(events, expected);
  // What the kernel itself takes, for comparison: bind until the node may be
  // opened, found by polling without the watcher.
  std::vector<double> nodes;
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(P().cable.Unplug());
    for (int ms = 0; ms < 10000 && ::access(Env("QUORLINK_LAB_PORT").c_str(), F_OK) == 0; ++ms)
      ::usleep(1000);
    const auto plugged = Clock::now();
    std::ofstream(Env("QUORLINK_LAB_GADGET") + "/UDC") << "dummy_udc.0\n";
    for (int ms = 0; ms < 10000 && ::access(Env("QUORLINK_LAB_PORT").c_str(), R_OK | W_OK) != 0;
         ++ms)
      ::usleep(1000);
    nodes.push_back(Ms(Clock::now() - plugged));
  }
  std::sort(latencies.begin(), latencies.end());
  std::sort(nodes.begin(), nodes.end());
  if (!latencies.empty())
    std::printf(
        "lab: bind to arrival over %zu binds: median %.1f ms, max %.1f ms; "
        "bind to an openable node, polled: median %.1f ms\n",
        latencies.size(), latencies[latencies.size() / 2], latencies.back(),
        nodes[nodes.size() / 2]);
}

}  // namespace
}  // namespace quorlink::testing::lab
