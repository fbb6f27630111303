// Port watch: lists the serial ports present, then prints each port that
// comes or goes, for SECONDS seconds (for ever without an argument).
//
//   port_watch        plug a USB serial adapter in and out
//   port_watch 2      the list, then two seconds of watching
#include <quorlink/comport/QuorPortList.h>
#include <quorlink/comport/QuorPortWatcher.h>
#include <quorlink/core/Application.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

using namespace quorlink;

static void Show(const char* what, const TQuorPortInfo& port) {
  std::printf("%s %s", what, port.Path.c_str());
  if (!port.VendorId.empty())
    std::printf(" (usb %s:%s %s %s)", port.VendorId.c_str(), port.ProductId.c_str(),
                port.Manufacturer.c_str(), port.Product.c_str());
  for (const auto& name : port.ComNames) std::printf(" %s", name.c_str());
  std::printf("\n");
  std::fflush(stdout);
}

int main(int argc, char** argv) {
  // Listing reads what the system publishes; no port is opened.
  for (const auto& port : ListComPorts()) Show("present", port);

  TQuorPortWatcher watcher(nullptr);
  // Raised on this thread, by the loop below: an arrival once the port can
  // be opened, a removal with what was known of the port.
  watcher.OnArrival = [](TQuorPortWatcher*, const TQuorPortInfo& port) { Show("arrived", port); };
  watcher.OnRemoval = [](TQuorPortWatcher*, const TQuorPortInfo& port) { Show("removed", port); };
  try {
    watcher.SetActive(true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot watch the ports: %s\n", e.what());
    return 1;
  }
  std::printf("watching\n");
  std::fflush(stdout);

  std::thread stopper;
  if (argc > 1) {
    const int seconds = std::atoi(argv[1]);
    stopper = std::thread([seconds] {
      std::this_thread::sleep_for(std::chrono::seconds(seconds));
      Application().Terminate();  // any thread may end the loop
    });
  }
  Application().Run();
  if (stopper.joinable()) stopper.join();
  return 0;
}
