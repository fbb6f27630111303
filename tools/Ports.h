// What the system knows of its serial ports, for `quorlink ports`.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorlink::tools {

struct SerialPortInfo {
  std::string path;    // /dev/ttyUSB0, COM3
  std::string device;  // the system's own name for the device (\Device\Serial0)
  std::string byId;    // a stable name for it (/dev/serial/by-id/...), if any
  std::string driver;  // ftdi_sio, cdc_acm, serial8250, pty, ...
  std::string usbId;   // vendor:product in hex, for a USB device
  std::string manufacturer, product, serial;  // a USB device's own strings
};

// What `quorlink ports --help` says the listing holds.
extern const char* const kPortsNotes;

// The serial ports present (not those a driver only reserves names for).
std::vector<SerialPortInfo> FindSerialPorts();
// What a device path is to the system, for a path a COM name is bound to.
SerialPortInfo DescribeDevice(const std::string& path);
// The COM number the backend gives a device when nothing is bound to it.
std::optional<unsigned> DefaultComNumber(const std::string& path);

}  // namespace quorlink::tools
