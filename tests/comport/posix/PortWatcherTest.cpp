// TQuorPortWatcher fed kernel uevents through a socket pair, over a made-up
// sysfs and /dev: what it raises, in what order, and what it leaves behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "quorlink/comport/QuorPortWatcher.h"
#include "quorlink/core/Application.h"
#include "support/posix/FakePortTree.h"
#include "support/posix/FaultyPortSystem.h"

namespace quorlink::testing {
namespace {

struct Watched {
  FakePortTree tree;
  FaultPlan plan;
  FaultyPortSystem system{plan, tree.Root()};
  std::unique_ptr<TQuorPortWatcher> watcher = std::make_unique<TQuorPortWatcher>(nullptr);
  std::vector<std::string> events;  // "+/dev/ttyACM0", "-/dev/ttyACM0"

  Watched() {
    watcher->OnArrival = [this](TQuorPortWatcher*, const TQuorPortInfo& p) {
      events.push_back("+" + p.Path + " " + p.SerialNumber);
    };
    watcher->OnRemoval = [this](TQuorPortWatcher*, const TQuorPortInfo& p) {
      events.push_back("-" + p.Path + " " + p.SerialNumber);
    };
  }
  // Runs the main loop until `count` events came (or a generous bound).
  void Pump(std::size_t count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (events.size() < count && std::chrono::steady_clock::now() < end)
      platform::Messages().ProcessMessage(10);
    Application().ProcessMessages();
  }
};

// Arrival and removal in order, each once, with what sysfs told at arrival
// (gone by the removal); nothing for ports present at the start, attribute
// changes, other subsystems, ttys that are not ports, or a second "add".
TEST(PortWatcher, RaisesOneArrivalAndOneRemovalPerPlugInOrder) {
  Watched w;
  w.tree.AddUsb("ttyUSB0", "1-3", "0403", "6001", "present");
  w.watcher->SetActive(true);
  ASSERT_EQ(w.watcher->Ports().size(), 1u);
  for (int cycle = 0; cycle < 3; ++cycle) {
    w.tree.AddUsb("ttyACM0", "1-2", "1d6b", "0104", "s" + std::to_string(cycle));
    w.system.Send("add", "usb", "bus/usb/001/002");
    w.system.Send("add", "tty", "ttyACM0");
    w.system.Send("change", "tty", "ttyACM0");
    w.system.Send("add", "tty", "ttyACM0");
    w.system.Send("add", "tty", "tty7");  // a virtual console
    w.system.Send("remove", "tty", "tty7");
    w.Pump(2 * cycle + 1);
    w.tree.Remove("ttyACM0");
    w.system.Send("remove", "tty", "ttyACM0");
    w.system.Send("remove", "usb", "bus/usb/001/002");
    w.Pump(2 * cycle + 2);
  }
  EXPECT_EQ(w.events,
            (std::vector<std::string>{"+/dev/ttyACM0 s0", "-/dev/ttyACM0 s0", "+/dev/ttyACM0 s1",
                                      "-/dev/ttyACM0 s1", "+/dev/ttyACM0 s2", "-/dev/ttyACM0 s2"}));
  EXPECT_EQ(w.system.Open(), 1);
  w.watcher.reset();
  EXPECT_EQ(w.system.Open(), 0);
}

// The node is announced before it may be opened: the arrival waits for it,
// and a port that goes before it ever could be opened raises nothing.
TEST(PortWatcher, AnArrivalWaitsUntilTheNodeMayBeOpened) {
  Watched w;
  w.watcher->SetActive(true);
  w.plan.FailCall("faccessat", EACCES, 0);
  w.tree.AddUsb("ttyACM0", "1-2", "1d6b", "0104", "early");
  w.system.Send("add", "tty", "ttyACM0");
  while (w.plan.Count("faccessat") < 3) platform::Messages().ProcessMessage(10);
  EXPECT_TRUE(w.events.empty());
  w.tree.Remove("ttyACM0");
  w.system.Send("remove", "tty", "ttyACM0");

  w.tree.AddUsb("ttyACM1", "1-4", "1d6b", "0104", "late");
  w.system.Send("add", "tty", "ttyACM1");
  const int tried = w.plan.Count("faccessat");
  while (w.plan.Count("faccessat") < tried + 3) platform::Messages().ProcessMessage(10);
  EXPECT_TRUE(w.events.empty());
  w.plan.Clear();
  w.Pump(1);
  EXPECT_EQ(w.events, (std::vector<std::string>{"+/dev/ttyACM1 late"}));
}

// Events the kernel dropped (a full socket buffer): the watcher lists the
// ports again and raises what changed meanwhile, so nothing is lost.
TEST(PortWatcher, DroppedEventsAreMadeUpByListingAgain) {
  Watched w;
  w.tree.AddUsb("ttyUSB0", "1-3", "0403", "6001", "old");
  w.watcher->SetActive(true);
  w.tree.Remove("ttyUSB0");
  w.tree.AddUsb("ttyACM0", "1-2", "1d6b", "0104", "new");
  w.plan.FailCall("recvmsg", ENOBUFS);
  w.system.Send("change", "tty", "ttyACM0");  // wakes the reader
  w.Pump(2);
  EXPECT_EQ(w.events, (std::vector<std::string>{"-/dev/ttyUSB0 old", "+/dev/ttyACM0 new"}));
}

// A handler that stops or destroys the watcher ends the batch there; a
// failed start says why and leaves nothing open.
TEST(PortWatcher, NoEventFollowsAStopAndAFailedStartLeavesNothingOpen) {
  for (bool destroy : {false, true}) {
    Watched w;
    w.watcher->SetActive(true);
    w.watcher->OnArrival = [&](TQuorPortWatcher*, const TQuorPortInfo& p) {
      w.events.push_back("+" + p.Path);
      if (destroy)
        w.watcher.reset();
      else
        w.watcher->SetActive(false);
    };
    w.tree.AddUsb("ttyACM0", "1-2", "1d6b", "0104", "a");
    w.tree.AddUsb("ttyACM1", "1-4", "1d6b", "0104", "b");
    w.system.Send("add", "tty", "ttyACM0");
    w.system.Send("add", "tty", "ttyACM1");
    w.Pump(1);
    EXPECT_EQ(w.events, (std::vector<std::string>{"+/dev/ttyACM0"}));
    EXPECT_EQ(w.system.Open(), 0);
  }
  for (const char* call : {"socket", "bind"}) {
    Watched w;
    w.plan.FailCall(call, EPROTONOSUPPORT);
    EXPECT_THROW(w.watcher->SetActive(true), EOSError) << call;
    EXPECT_FALSE(w.watcher->GetActive());
    EXPECT_EQ(w.system.Open(), 0) << call;
  }
}

}  // namespace
}  // namespace quorlink::testing
