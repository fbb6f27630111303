// The serial backend's part in CloseHandle: a port's handle stands for a
// device object of the backend, so the kernel's CloseHandle offers every
// handle here first.
#pragma once

#include "quorlink/platform/Types.h"

namespace quorlink::platform::windows {

// True when `handle` was an open serial port: it is closed now (its pending
// wait ended, its output left to drain). False for any other handle.
bool CloseSerialPort(HANDLE handle);

}  // namespace quorlink::platform::windows
