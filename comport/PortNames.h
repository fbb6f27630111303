// The COM names that open a port, shared by the listing and the watcher.
#pragma once

#include "quorlink/platform/PortInfo.h"

namespace quorlink {

// Fills port.ComNames: the numbers bound to its Path or StableName, then the
// backend's own number for it unless that number is bound elsewhere.
void NameComPorts(TQuorPortInfo& port);

}  // namespace quorlink
