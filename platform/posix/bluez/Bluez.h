// The BlueZ provider as the POSIX backend calls it: Linux Bluetooth through
// bluetoothd's D-Bus interface (sd-bus) and the kernel's RFCOMM sockets. It is
// built only where sd-bus is found; otherwise every call reports it absent.
// Main thread only: the bus connection is watched by the main loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quorlink/platform/Types.h"

namespace quorlink::platform::posix::bluez {

// Whether this build has the provider at all.
bool Built();

// The bus that serves org.bluez; empty selects the system bus. Changing it
// drops the connection and forgets the last probe.
void SetBusAddress(const std::string& address);
std::string BusAddress();
// A kernel without Bluetooth cannot make AF_BLUETOOTH sockets; tests against
// a stand-in bluetoothd, whose links are socketpairs, turn this check off.
void SetRequireKernelSocket(bool require);
bool KernelSocketsRequired();

struct Availability {
  bool usable = false;
  std::string reason;  // why not, or a note (no adapter, powered off)
};
// Probes once and remembers the answer until the settings change.
Availability Probe();
// The reason text for socket(AF_BLUETOOTH) failing with errno err.
std::string KernelSocketReason(int err);

struct Adapter {
  std::string path;
  std::uint64_t address = 0;
  std::string name;
  bool powered = false;
};
struct Device {
  std::string path;
  std::string adapterPath;
  std::uint64_t address = 0;
  std::string name;
  std::uint32_t deviceClass = 0;
  bool connected = false;
  bool paired = false;
  std::vector<std::string> uuids;
};
// From the object manager; 0 or an errno value.
int Objects(std::vector<Adapter>& adapters, std::vector<Device>& devices);

// "AA:BB:CC:DD:EE:FF" and "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF" to a
// 48-bit address; 0 when the text is not one.
std::uint64_t ParseAddress(const std::string& text);

}  // namespace quorlink::platform::posix::bluez
