// Serial ports as sysfs and /dev show them (under PortSystem().Root()).
#pragma once

#include <optional>
#include <string>

#include "quorlink/platform/PortInfo.h"

namespace quorlink::platform::posix {

// The port of the tty named `name` (ttyUSB0), nullopt when that tty is not a
// serial port present: a virtual console or pty has no device, and the 8250
// driver names ports that are not there (their type is 0).
std::optional<TQuorPortInfo> DescribeTty(const std::string& name);

// Whether the node /dev/NAME exists, and whether it may be opened for
// reading and writing, found without opening it.
enum class NodeState { kMissing, kRefused, kReady };
NodeState ProbeNode(const std::string& name);

}  // namespace quorlink::platform::posix
