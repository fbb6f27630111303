/// @file
/// What the system knows of one serial port: the record the port listing
/// returns and the port watcher's events carry.
#pragma once

#include <string>
#include <vector>

#include "quorlink/core/Export.h"

namespace quorlink {

/// One serial port. A field the system does not know is empty.
struct QUORLINK_API TQuorPortInfo {
  /// The path that opens it: /dev/ttyUSB0 (POSIX), COM3 (Windows), or a path
  /// a COM name is bound to (a pty, say).
  std::string Path;
  /// The system's own name for the device, where it has one apart from Path
  /// (`\\Device\\Serial0` on Windows).
  std::string Device;
  /// A name that stays the same across plugs and reboots
  /// (/dev/serial/by-id/usb-...), if the system made one.
  std::string StableName;
  /// The "COMn" names that open it, those bound to it first (see
  /// platform::BindComPort; platform::BoundComPort tells them apart).
  std::vector<std::string> ComNames;
  /// The driver that serves it (ftdi_sio, cdc_acm, serial8250, usbser, pty).
  std::string Driver;
  /// The bus the device sits on: usb, pci, pnp, platform, ...
  std::string Bus;
  ///@{
  /// A USB device's vendor and product ids (four lower-case hex digits),
  /// its own strings, and the number (two hex digits) and name of the
  /// interface that is the port.
  std::string VendorId, ProductId;
  std::string Manufacturer, Product, SerialNumber;
  std::string Interface, InterfaceName;
  ///@}

  /// True when `name` opens this port: its Path, StableName or one of its
  /// ComNames (in any case, and with the "\\\\.\\" prefix of a device name).
  bool Matches(const std::string& name) const;
};

}  // namespace quorlink
