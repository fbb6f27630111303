// The kernel's device events as its uevent netlink socket delivers them:
// "ACTION@DEVPATH" then KEY=VALUE fields, each ended by a NUL.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace quorlink::platform::posix {

struct Uevent {
  std::string action;     // add, remove, change, move, bind, unbind, ...
  std::string devpath;    // /devices/...
  std::string subsystem;  // tty, usb, ...
  std::string devname;    // the node under /dev (ttyACM0), if the device has one
};

// Nullopt for what is not a kernel event: udev's own messages on the same
// socket family, a message without ACTION, DEVPATH or SUBSYSTEM, or one whose
// fields disagree with its header. The message need not end with a NUL.
std::optional<Uevent> ParseUevent(const char* data, std::size_t size);

}  // namespace quorlink::platform::posix
