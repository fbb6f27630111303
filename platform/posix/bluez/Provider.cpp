// Whether BlueZ can serve this process: the kernel makes RFCOMM sockets and
// org.bluez answers on the bus.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Bus.h"
#include "platform/posix/bluez/Rfcomm.h"

namespace quorlink::platform::posix::bluez {

namespace {

// The kernel's ABI (linux/bluetooth.h, linux/rfcomm.h).

std::string busAddress;
bool requireKernelSocket = true;
std::optional<Availability> probed;

}  // namespace

bool Built() {
  return true;
}

void SetBusAddress(const std::string& address) {
  Bus::Instance().Reset();
  busAddress = address;
  probed.reset();
}

std::string BusAddress() {
  return busAddress;
}

void SetRequireKernelSocket(bool require) {
  requireKernelSocket = require;
  probed.reset();
}

bool KernelSocketsRequired() {
  return requireKernelSocket;
}

std::string KernelSocketReason(int err) {
  switch (err) {
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
      return "the kernel has no Bluetooth RFCOMM sockets (no Bluetooth support, or the module "
             "is not loaded)";
    case EACCES:
    case EPERM:
      return "this user may not open Bluetooth sockets";
    default:
      return std::string("socket(AF_BLUETOOTH) failed: ") + std::strerror(err);
  }
}

Availability Probe() {
  if (probed) return *probed;
  Availability result;
  if (requireKernelSocket) {
    int fd = ::socket(kAfBluetooth, SOCK_STREAM | SOCK_CLOEXEC, kBtProtoRfcomm);
    if (fd < 0) {
      result.reason = KernelSocketReason(errno);
      probed = result;
      return result;
    }
    close(fd);
  }
  std::vector<Adapter> adapters;
  std::vector<Device> devices;
  if (int err = Objects(adapters, devices)) {
    result.reason = std::string("bluetoothd (org.bluez) does not answer on ") +
                    (busAddress.empty() ? "the system bus" : busAddress) + ": " +
                    std::strerror(err);
    // A later probe tries again: bluetoothd may start.
    return result;
  }
  result.usable = true;
  if (adapters.empty()) {
    result.reason = "BlueZ has no Bluetooth adapter";
  } else {
    bool anyPowered = false;
    for (const auto& a : adapters) anyPowered |= a.powered;
    result.reason = anyPowered
                        ? "BlueZ answers on " +
                              (busAddress.empty() ? std::string("the system bus") : busAddress)
                        : "every BlueZ adapter is powered off";
  }
  probed = result;
  return result;
}

}  // namespace quorlink::platform::posix::bluez
