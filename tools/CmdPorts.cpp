// `quorlink ports`: the serial ports present, what the system knows of each,
// and the COM names that reach them.
#include <cstdio>
#include <map>

#include "quorlink/platform/Serial.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "tools/Failures.h"
#include "tools/Ports.h"

namespace quorlink::tools {
namespace {

constexpr const char* kCmdPortsUsage = "usage: quorlink ports [--bind COMn=PATH]...";

// "COMn" for each number whose name opens path.
std::map<std::string, std::vector<std::string>> ComNames(const std::vector<SerialPortInfo>& ports,
                                                         std::vector<SerialPortInfo>& bound) {
  std::map<std::string, std::vector<std::string>> names;
  for (unsigned n = 1; n <= 255; ++n) {
    const std::string com = "COM" + std::to_string(n);
    if (auto path = platform::BoundComPort(com)) {
      names[*path].push_back(com + " (bound)");
      bool listed = false;
      for (const auto& p : ports) listed = listed || p.path == *path;
      for (const auto& p : bound) listed = listed || p.path == *path;
      if (!listed) bound.push_back(DescribeDevice(*path));
    }
  }
  for (const auto& p : ports)
    if (auto n = DefaultComNumber(p.path))
      if (!platform::BoundComPort("COM" + std::to_string(*n)))
        names[p.path].push_back("COM" + std::to_string(*n));
  return names;
}

void Print(const SerialPortInfo& p, const std::vector<std::string>& coms) {
  std::printf("%s\n", p.path.c_str());
  auto field = [](const char* name, const std::string& value) {
    if (!value.empty()) std::printf("  %-8s %s\n", name, value.c_str());
  };
  field("device:", p.device);
  field("by-id:", p.byId);
  field("driver:", p.driver);
  std::string usb = p.usbId;
  for (const auto* part : {&p.manufacturer, &p.product})
    if (!part->empty()) usb += " " + *part;
  if (!p.serial.empty()) usb += ", serial " + p.serial;
  field("usb:", p.usbId.empty() ? std::string{} : usb);
  std::string com;
  for (const auto& c : coms) com += (com.empty() ? "" : ", ") + c;
  field("com:", com);
}

int Ports(const Args& args) {
  std::vector<std::string> binds;
  CLI::App app("", "quorlink ports");
  DescribeCommand(app, kCmdPortsUsage, std::string(kPortsNotes) + "\n" + kBindHelp);
  AddBindOption(app, binds);
  if (auto rc = ParseArgs(app, args)) return *rc;
  if (std::string error = ApplyBindings(binds); !error.empty())
    return Fail(error + "\n" + kCmdPortsUsage, kExitUsage);
  const auto ports = FindSerialPorts();
  std::vector<SerialPortInfo> bound;
  auto names = ComNames(ports, bound);
  for (const auto& p : ports) Print(p, names[p.path]);
  for (const auto& p : bound) Print(p, names[p.path]);
  if (ports.empty() && bound.empty()) std::fprintf(stderr, "quorlink: no serial ports\n");
  return kExitOk;
}

const CommandRegistrar portsCommand("ports", "ports [--bind COMn=PATH]...",
                                    "the serial ports present, what the system knows of each",
                                    Ports);

}  // namespace
}  // namespace quorlink::tools
