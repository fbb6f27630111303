/// @file
/// The serial ports present, with what the system knows of each.
///
/// Thread rules: ListComPorts may be called from any thread. It never opens a
/// device (an open can reset a board through DTR): it reads what the system
/// publishes (sysfs and /dev on Linux; SetupAPI, the serial device map and
/// the DOS device names on Windows).
#pragma once

#include <vector>

#include "quorlink/core/Export.h"
#include "quorlink/platform/PortInfo.h"

namespace quorlink {

/// The serial ports present, sorted by Path: those the system lists (not the
/// names a driver only reserves, such as absent 8250 ports), then the devices
/// COM names are bound to that the system does not list (a pty, say). Each
/// carries the COM names that open it.
QUORLINK_API std::vector<TQuorPortInfo> ListComPorts();

}  // namespace quorlink
