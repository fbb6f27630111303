// The BlueZ provider of a build without sd-bus: never usable, and says why.
#include <cerrno>

#include "platform/posix/bluez/Bluez.h"

namespace quorlink::platform::posix::bluez {

bool Built() {
  return false;
}
void SetBusAddress(const std::string&) {}
std::string BusAddress() {
  return {};
}
void SetRequireKernelSocket(bool) {}
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

}  // namespace quorlink::platform::posix::bluez
