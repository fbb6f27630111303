#include "quorlink/comport/QuorPortList.h"

#include <set>

#include "comport/PortNames.h"
#include "platform/PortDevices.h"
#include "quorlink/platform/Serial.h"

namespace quorlink {

namespace {

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace

void NameComPorts(TQuorPortInfo& port) {
  port.ComNames.clear();
  // 0: none.
  unsigned own = platform::OsDefaultComNumber(port.Path).value_or(0);
  for (unsigned n = 1; n <= 255; ++n) {
    const std::string com = "COM" + std::to_string(n);
    const auto bound = platform::BoundComPort(com);
    if (!bound) continue;
    if (*bound == port.Path || (!port.StableName.empty() && *bound == port.StableName))
      port.ComNames.push_back(com);
    if (own == n) own = 0;  // that name now opens another device
  }
  if (own != 0) port.ComNames.push_back("COM" + std::to_string(own));
}

bool TQuorPortInfo::Matches(const std::string& name) const {
  if (name.empty()) return false;
  if (name == Path || name == StableName) return true;
  const auto n = platform::ComPortNumber(name);
  if (!n) return false;
  for (const auto& com : ComNames)
    if (Upper(com) == "COM" + std::to_string(*n)) return true;
  return false;
}

std::vector<TQuorPortInfo> ListComPorts() {
  std::vector<TQuorPortInfo> ports = platform::OsListPorts();
  std::set<std::string> listed;
  for (auto& port : ports) {
    NameComPorts(port);
    listed.insert(port.Path);
    if (!port.StableName.empty()) listed.insert(port.StableName);
  }
  // Bound devices the system does not list, once each.
  for (unsigned n = 1; n <= 255; ++n) {
    const auto bound = platform::BoundComPort("COM" + std::to_string(n));
    if (!bound || !listed.insert(*bound).second) continue;
    TQuorPortInfo port = platform::OsDescribeDevice(*bound);
    NameComPorts(port);
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace quorlink
