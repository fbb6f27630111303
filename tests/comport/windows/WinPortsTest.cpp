// The port listing and watcher on Windows: the COM ports the Wine prefix
// links (the test's cable pairs), and the watcher's window turning
// device-interface notifications into arrivals and removals.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h.
#include <dbt.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "quorlink/comport/QuorPortList.h"
#include "quorlink/comport/QuorPortWatcher.h"
#include "support/ComBinding.h"

namespace quorlink::testing {
namespace {

std::vector<std::string> CablePorts() {
  std::vector<std::string> ports;
  std::istringstream in(std::getenv("QUORLINK_COM_PAIRS") ? std::getenv("QUORLINK_COM_PAIRS") : "");
  for (std::string port; std::getline(in, port, ',');) {
    std::istringstream pair(port);
    for (std::string end; std::getline(pair, end, ':');) ports.push_back(end);
  }
  return ports;
}

// This process's port watch windows (other test programs may have theirs).
std::vector<HWND> WatchWindows() {
  std::vector<HWND> found;
  HWND window = nullptr;
  while ((window = ::FindWindowExW(HWND_MESSAGE, window, L"QuorlinkPortWatchWindow", nullptr))) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId()) found.push_back(window);
  }
  return found;
}

void Notify(HWND window, WPARAM what, DWORD type) {
  DEV_BROADCAST_DEVICEINTERFACE_W broadcast{};
  broadcast.dbcc_size = sizeof broadcast;
  broadcast.dbcc_devicetype = type;
  ::SendMessageW(window, WM_DEVICECHANGE, what, reinterpret_cast<LPARAM>(&broadcast));
}

TEST(WinPorts, ListsThePrefixsComPortsWithTheirNames) {
  const auto cable = CablePorts();
  if (cable.empty()) GTEST_SKIP() << "no COM ports given in QUORLINK_COM_PAIRS";
  const auto ports = ListComPorts();
  for (const auto& name : cable) {
    auto it = std::find_if(ports.begin(), ports.end(),
                           [&](const TQuorPortInfo& p) { return p.Path == name; });
    ASSERT_NE(it, ports.end()) << name;
    EXPECT_FALSE(it->Device.empty()) << name;
    EXPECT_TRUE(it->Matches(name) && it->ComNames.back() == name) << name;
  }
}

// A notification makes the watcher list the ports again: what appeared or
// went since raises one event each; other notifications raise nothing; the
// window goes with the watcher.
TEST(WinPorts, TheWatchersWindowTurnsNotificationsIntoEvents) {
  std::vector<std::string> events;
  {
    TQuorPortWatcher watcher(nullptr);
    watcher.OnArrival = [&](TQuorPortWatcher*, const TQuorPortInfo& p) {
      events.push_back("+" + p.Path);
    };
    watcher.OnRemoval = [&](TQuorPortWatcher*, const TQuorPortInfo& p) {
      events.push_back("-" + p.Path);
    };
    watcher.SetActive(true);
    const auto windows = WatchWindows();
    ASSERT_EQ(windows.size(), 1u);
    {
      ScopedComBinding bound(77, "\\\\.\\QuorlinkNoSuchPort");
      Notify(windows[0], DBT_DEVNODES_CHANGED, DBT_DEVTYP_DEVICEINTERFACE);
      Notify(windows[0], DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
      EXPECT_TRUE(events.empty());
      Notify(windows[0], DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
      Notify(windows[0], DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
    }
    Notify(windows[0], DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE);
  }
  EXPECT_EQ(events,
            (std::vector<std::string>{"+\\\\.\\QuorlinkNoSuchPort", "-\\\\.\\QuorlinkNoSuchPort"}));
  EXPECT_TRUE(WatchWindows().empty());
}

}  // namespace
}  // namespace quorlink::testing
