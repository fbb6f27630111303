// The BlueZ provider of a build without sd-bus: never usable, and says why.
#include <cerrno>

#include "quorlink/platform/BluetoothTypes.h"
#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Endpoint.h"

namespace quorlink::platform::posix::bluez {

bool Built() {
  return false;
}
void SetBusAddress(const std::string&) {}
std::string BusAddress() {
  return {};
}
void SetRequireKernelSocket(bool) {}
bool KernelSocketsRequired() {
  return true;
}
Availability Probe() {
  return {false, "this build has no BlueZ provider (libsystemd was not found)"};
}
std::string KernelSocketReason(int) {
  return {};
}
int Objects(std::vector<Adapter>&, std::vector<Device>&) {
  return ENODEV;
}
std::uint64_t ParseAddress(const std::string&) {
  return 0;
}

std::shared_ptr<Endpoint> Endpoint::Create(int) {
  return nullptr;
}
int Publish(const ServiceRecord&) {
  return WSAEAFNOSUPPORT;
}
int Unpublish(std::uint64_t, std::uint32_t, const GUID&) {
  return WSASERVICE_NOT_FOUND;
}
int Pair(std::uint64_t, std::function<void(int)>) {
  return WSAEAFNOSUPPORT;
}
std::string UniqueName() {
  return {};
}

}  // namespace quorlink::platform::posix::bluez
