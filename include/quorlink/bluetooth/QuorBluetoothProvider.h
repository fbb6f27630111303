/// @file
/// Which provider serves the Bluetooth calls of this process, and virtual
/// radios for machines (and tests, and examples) without Bluetooth hardware.
///
/// On Linux the library uses BlueZ when the kernel has Bluetooth sockets and
/// `bluetoothd` answers on the system bus; on Windows, the system's Bluetooth
/// (Winsock's AF_BTH and the Bluetooth API) when it has a radio. The virtual
/// radio serves only a program that asks for it, on either system: processes
/// of one user meet in a rendezvous directory, each through radios it makes
/// with TQuorVirtualRadio.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quorlink/core/Export.h"

namespace quorlink {

/// The Bluetooth providers a process can use.
enum class TQuorBluetoothProvider : std::uint8_t { None, VirtualRadio, BlueZ, Windows };

/// The provider that serves this process's Bluetooth calls now; `reason`
/// (optional) receives why, and why the system's Bluetooth is not usable
/// when it is not. Main thread; asks BlueZ at most once, Windows for its
/// radios at each call.
QUORLINK_API TQuorBluetoothProvider BluetoothProvider(std::string* reason = nullptr);

/// Makes the virtual radio serve (`on`) or stop serving this process's
/// Bluetooth calls. `rendezvousDirectory` is where processes meet; empty
/// keeps the current one (by default `$XDG_RUNTIME_DIR/quorlink-vradio` on
/// POSIX, `%LOCALAPPDATA%\quorlink-vradio` on Windows).
/// Call it before any transport is active.
QUORLINK_API void UseVirtualRadio(bool on, const std::string& rendezvousDirectory = {});

/// A virtual radio owned by this process while the object lives. Sockets
/// bound to "any radio" use the oldest one. Raises std::system_error when
/// the directory cannot be used or a live radio has the address already.
class QUORLINK_API TQuorVirtualRadio {
 public:
  /// A radio with a 48-bit device address and a name that peers see.
  TQuorVirtualRadio(std::uint64_t address, const std::string& name);
  ~TQuorVirtualRadio();
  TQuorVirtualRadio(const TQuorVirtualRadio&) = delete;
  TQuorVirtualRadio& operator=(const TQuorVirtualRadio&) = delete;

  /// The device address.
  std::uint64_t Address() const;
  /// The address as TQuorBluetooth::SetAddress takes it: "(00:11:22:33:44:55)".
  std::string AddressText() const;

 private:
  struct TRadio;
  std::unique_ptr<TRadio> radio_;
};

}  // namespace quorlink
