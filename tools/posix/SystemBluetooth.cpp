#include "tools/SystemBluetooth.h"

#include "platform/posix/BluetoothProvider.h"
#include "platform/posix/bluez/Bluez.h"

namespace quorlink::tools {

const char* const kSystemBluetoothName = "BlueZ";
const char* const kSystemBluetoothOptions = "[--bus ADDRESS] ";

void AddSystemBluetoothOptions(CLI::App& sub, std::string& bus) {
  sub.add_option("--bus", bus, "the D-Bus bus that serves org.bluez")->type_name("ADDRESS");
}

SystemBluetoothChoice ChooseSystemBluetooth(const std::string& bus) {
  namespace bluez = platform::posix::bluez;
  if (!bus.empty()) {
    // A named bus is a test's stand-in: its links are not kernel sockets.
    bluez::SetBusAddress(bus);
    bluez::SetRequireKernelSocket(false);
  }
  const auto choice = platform::posix::ChooseBluetoothProvider();
  return {choice.kind == platform::posix::BluetoothProviderKind::BlueZ, choice.reason};
}

}  // namespace quorlink::tools
