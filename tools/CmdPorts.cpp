// `quorlink ports`: the serial ports present, what the system knows of each,
// and the COM names that reach them; with --watch, ports as they come and go.
#include <cstdio>
#include <thread>

#include "quorlink/comport/QuorPortList.h"
#include "quorlink/comport/QuorPortWatcher.h"
#include "quorlink/core/Application.h"
#include "quorlink/platform/Serial.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "tools/Failures.h"
#include "tools/Host.h"

namespace quorlink::tools {
namespace {

constexpr const char* kCmdPortsUsage = "usage: quorlink ports [--watch] [--bind COMn=PATH]...";

constexpr const char* kPortsNotes =
    "One block a port: its path (a device path, or COMn on Windows), then what the\n"
    "system knows of it (the kernel's device name, a stable by-id name, the driver,\n"
    "the bus, a USB device's vendor:product, names, serial number and interface)\n"
    "and the COM names that open it. Bound ports are listed even when the system\n"
    "does not list them (a pty, say). No port is opened.\n"
    "--watch prints \"arrived PATH\" and \"removed PATH\", each with its block, as\n"
    "ports come and go, until Ctrl-C.";

void Print(const char* prefix, const TQuorPortInfo& p) {
  std::printf("%s%s\n", prefix, p.Path.c_str());
  auto field = [](const char* name, const std::string& value) {
    if (!value.empty()) std::printf("  %-8s %s\n", name, value.c_str());
  };
  field("device:", p.Device);
  field("by-id:", p.StableName);
  field("driver:", p.Driver);
  field("bus:", p.Bus);
  std::string usb = p.VendorId.empty() ? std::string{} : p.VendorId + ":" + p.ProductId;
  for (const auto* part : {&p.Manufacturer, &p.Product})
    if (!usb.empty() && !part->empty()) usb += " " + *part;
  if (!usb.empty() && !p.SerialNumber.empty()) usb += ", serial " + p.SerialNumber;
  field("usb:", usb);
  std::string iface = p.Interface;
  if (!p.InterfaceName.empty()) iface += (iface.empty() ? "" : " ") + p.InterfaceName;
  field("if:", iface);
  std::string com;
  for (const auto& c : p.ComNames)
    com += (com.empty() ? "" : ", ") + c + (platform::BoundComPort(c) ? " (bound)" : "");
  field("com:", com);
  std::fflush(stdout);
}

int Watch() {
  SignalStop stop;
  TQuorPortWatcher watcher(nullptr);
  watcher.OnArrival = [](TQuorPortWatcher*, const TQuorPortInfo& p) { Print("arrived ", p); };
  watcher.OnRemoval = [](TQuorPortWatcher*, const TQuorPortInfo& p) { Print("removed ", p); };
  try {
    watcher.SetActive(true);
  } catch (const std::exception& e) {
    return Fail(std::string("cannot watch the serial ports: ") + e.what(), ExitCodeFor(e));
  }
  std::fprintf(stderr, "quorlink: watching %zu serial port(s) present; Ctrl-C stops\n",
               watcher.Ports().size());
  std::thread interrupt([&] {
    while (!stop.Raised(-1)) {
    }
    Application().Terminate();
  });
  Application().Run();
  interrupt.join();
  return kExitOk;
}

int Ports(const Args& args) {
  std::vector<std::string> binds;
  bool watch = false;
  CLI::App app("", "quorlink ports");
  DescribeCommand(app, kCmdPortsUsage, std::string(kPortsNotes) + "\n" + kBindHelp);
  app.add_flag("--watch", watch, "print ports as they come and go, until Ctrl-C");
  AddBindOption(app, binds);
  if (auto rc = ParseArgs(app, args)) return *rc;
  if (std::string error = ApplyBindings(binds); !error.empty())
    return Fail(error + "\n" + kCmdPortsUsage, kExitUsage);
  if (watch) return Watch();
  const auto ports = ListComPorts();
  for (const auto& p : ports) Print("", p);
  if (ports.empty()) std::fprintf(stderr, "quorlink: no serial ports\n");
  return kExitOk;
}

const CommandRegistrar portsCommand("ports", "ports [--watch] [--bind COMn=PATH]...",
                                    "the serial ports present, or as they come and go", Ports);

}  // namespace
}  // namespace quorlink::tools
