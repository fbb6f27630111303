// The serial ports the system has, and news of them coming and going: what
// the port listing and the port watcher (comport/) ask of the OS backend.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorlink/platform/PortInfo.h"

namespace quorlink::platform {

// The serial ports the system lists, sorted by path, without COM names.
// Never opens a device. Any thread.
std::vector<TQuorPortInfo> OsListPorts();
// What the system knows of a device path (one a COM name is bound to).
TQuorPortInfo OsDescribeDevice(const std::string& path);
// The COM number that opens a path when nothing is bound to that number.
std::optional<unsigned> OsDefaultComNumber(const std::string& path);

struct PortChange {
  enum Kind {
    kArrived,  // port: a port the system lists, ready to open
    kRemoved,  // port.Path: a port is gone
    kRescan,   // something changed or was missed: list the ports again
  };
  Kind kind;
  TQuorPortInfo port;
};

// A registration for port notifications; destroying it releases it, and no
// call to its callback follows.
class IPortWatch {
 public:
  virtual ~IPortWatch() = default;
};

// Main thread. Changes reach `changed` on the main thread, from the main
// loop, in batches; `changed` is the last thing the watch does with a batch,
// so it may destroy the watch. Null with the last error set on failure.
using PortChanges = std::function<void(const std::vector<PortChange>&)>;
std::unique_ptr<IPortWatch> OsWatchPorts(PortChanges changed);

}  // namespace quorlink::platform
