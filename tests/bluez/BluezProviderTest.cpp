// Which provider serves Bluetooth, and BlueZ's radios and devices, against a
// stand-in bluetoothd on a private bus.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <utility>

#include "bluez/BluezStandIn.h"
#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"
#include "platform/Winsock.h"
#include "platform/posix/BluetoothProvider.h"
#include "platform/posix/bluez/Bluez.h"

namespace quorlink::testing {
namespace {

using platform::posix::BluetoothProviderKind;
using platform::posix::ChooseBluetoothProvider;

const char* const kTwoAdapters = R"({
  "adapters": [{"name": "hci0", "alias": "Desk radio"},
               {"name": "hci1", "alias": "Dongle", "powered": false}],
  "devices": [{"adapter": "hci0", "address": "11:22:33:44:55:66", "alias": "Stranger"},
              {"adapter": "hci0", "address": "AA:BB:CC:DD:EE:01", "alias": "Headset",
               "paired": true, "class": 2360324},
              {"adapter": "hci1", "address": "AA:BB:CC:DD:EE:02", "alias": "Elsewhere"}]})";

#define SKIP_WITHOUT_STANDIN()                                    \
  do {                                                            \
    if (auto missing = BluezStandIn::Missing(); !missing.empty()) \
      GTEST_SKIP() << "no stand-in bluetoothd: " << missing;      \
  } while (0)

TEST(BluezProvider, KernelWithoutBluetoothFallsBackWithItsReasonAndSocketFails) {
  // This machine's kernel has no Bluetooth; elsewhere the check is skipped.
  int fd = ::socket(31 /* AF_BLUETOOTH */, SOCK_STREAM | SOCK_CLOEXEC, 3 /* RFCOMM */);
  if (fd >= 0) {
    ::close(fd);
    GTEST_SKIP() << "this kernel makes Bluetooth sockets";
  }
  const int err = errno;
  platform::posix::bluez::SetBusAddress("unix:path=/nonexistent/quorlink-bus");
  auto choice = ChooseBluetoothProvider();
  EXPECT_EQ(choice.kind, BluetoothProviderKind::None);
  if (platform::posix::bluez::Built()) {
    EXPECT_EQ(choice.reason, platform::posix::bluez::KernelSocketReason(err));
    EXPECT_NE(platform::posix::bluez::KernelSocketReason(EAFNOSUPPORT).find("no Bluetooth"),
              std::string::npos);
    EXPECT_NE(platform::posix::bluez::KernelSocketReason(EACCES).find("may not"),
              std::string::npos);
  }
  // Without a provider the Winsock family is unsupported, as before.
  auto& ws = platform::Winsock();
  WSADATA data;
  ASSERT_EQ(ws.WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(ws.socket(AF_BTH, win32::SOCK_STREAM, BTHPROTO_RFCOMM), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEAFNOSUPPORT);
  ws.WSACleanup();
  platform::posix::bluez::SetBusAddress("");
}

TEST(BluezProvider, ChoiceFollowsWhatTheBusServes) {
  SKIP_WITHOUT_STANDIN();
  if (!platform::posix::bluez::Built()) GTEST_SKIP() << "built without the BlueZ provider";
  {
    BluezStandIn bus("");  // nothing serves org.bluez
    ASSERT_TRUE(bus.Ready());
    auto choice = ChooseBluetoothProvider();
    EXPECT_EQ(choice.kind, BluetoothProviderKind::None);
    EXPECT_NE(choice.reason.find("does not answer"), std::string::npos) << choice.reason;
  }
  // BlueZ answers but gives no radio: it is still the provider, and says why.
  const std::pair<const char*, const char*> noRadio[] = {
      {R"({"adapters": []})", "no Bluetooth adapter"},
      {R"({"adapters": [{"name": "hci0", "alias": "Off", "powered": false}]})", "powered off"},
  };
  for (const auto& [served, reason] : noRadio) {
    BluezStandIn bus(served);
    ASSERT_TRUE(bus.Ready());
    auto choice = ChooseBluetoothProvider();
    EXPECT_EQ(choice.kind, BluetoothProviderKind::BlueZ);
    EXPECT_NE(choice.reason.find(reason), std::string::npos) << choice.reason;
    HANDLE radio = nullptr;
    BLUETOOTH_FIND_RADIO_PARAMS params{sizeof params};
    EXPECT_EQ(platform::BluetoothApi().BluetoothFindFirstRadio(&params, &radio), nullptr);
  }
  {
    // A program that asks for the virtual radio gets it, BlueZ or not.
    BluezStandIn bus(kTwoAdapters);
    ASSERT_TRUE(bus.Ready());
    EXPECT_EQ(ChooseBluetoothProvider().kind, BluetoothProviderKind::BlueZ);
    VirtualRadios radios;
    EXPECT_EQ(ChooseBluetoothProvider().kind, BluetoothProviderKind::Virtual);
  }
}

TEST(BluezProvider, RadiosDevicesAndPickerComeFromTheObjectManager) {
  SKIP_WITHOUT_STANDIN();
  if (!platform::posix::bluez::Built()) GTEST_SKIP() << "built without the BlueZ provider";
  BluezStandIn bus(kTwoAdapters);
  ASSERT_TRUE(bus.Ready());
  auto& api = platform::BluetoothApi();

  // Only the powered adapter is a radio.
  HANDLE radio = nullptr;
  BLUETOOTH_FIND_RADIO_PARAMS params{sizeof params};
  HBLUETOOTH_RADIO_FIND find = api.BluetoothFindFirstRadio(&params, &radio);
  ASSERT_NE(find, nullptr);
  BLUETOOTH_RADIO_INFO info{};
  info.dwSize = sizeof info;
  ASSERT_EQ(api.BluetoothGetRadioInfo(radio, &info), ERROR_SUCCESS);
  EXPECT_EQ(info.address.ullLong, 0x000102030405ull);  // the template's hci0
  EXPECT_EQ(info.szName[0], u'D');
  HANDLE next = nullptr;
  EXPECT_FALSE(api.BluetoothFindNextRadio(find, &next));
  api.BluetoothFindRadioClose(find);

  // Devices of that radio, paired first; the other adapter's are not listed.
  BLUETOOTH_DEVICE_SEARCH_PARAMS search{};
  search.dwSize = sizeof search;
  search.fReturnRemembered = search.fReturnUnknown = TRUE;
  search.hRadio = radio;
  BLUETOOTH_DEVICE_INFO device{};
  device.dwSize = sizeof device;
  HBLUETOOTH_DEVICE_FIND devices = api.BluetoothFindFirstDevice(&search, &device);
  ASSERT_NE(devices, nullptr);
  EXPECT_EQ(device.Address.ullLong, 0xAABBCCDDEE01ull);
  EXPECT_TRUE(device.fRemembered);
  EXPECT_EQ(device.ulClassofDevice, 2360324u);
  ASSERT_TRUE(api.BluetoothFindNextDevice(devices, &device));
  EXPECT_EQ(device.Address.ullLong, 0x112233445566ull);
  EXPECT_FALSE(device.fRemembered);
  EXPECT_FALSE(api.BluetoothFindNextDevice(devices, &device));
  api.BluetoothFindDeviceClose(devices);
  platform::Kernel().CloseHandle(radio);

  // Only unknown devices asked for: the paired one is left out.
  search.fReturnRemembered = FALSE;
  search.hRadio = nullptr;
  devices = api.BluetoothFindFirstDevice(&search, &device);
  ASSERT_NE(devices, nullptr);
  EXPECT_EQ(device.Address.ullLong, 0x112233445566ull);
  api.BluetoothFindDeviceClose(devices);

  // The picker offers the devices the search gives, paired first (none of
  // the powered-off adapter, which cannot reach them), and returns the chosen.
  std::vector<platform::BluetoothDeviceChoice> offered;
  auto previous = platform::SetDevicePicker([&](const auto& choices) {
    offered = choices;
    return 0;
  });
  BLUETOOTH_SELECT_DEVICE_PARAMS select{};
  select.dwSize = sizeof select;
  ASSERT_TRUE(api.BluetoothSelectDevices(&select));
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[0].name, "Headset");
  EXPECT_EQ(offered[1].name, "Stranger");
  EXPECT_EQ(select.pDevices[0].Address.ullLong, 0xAABBCCDDEE01ull);
  api.BluetoothSelectDevicesFree(&select);
  platform::SetDevicePicker(previous);
}

}  // namespace
}  // namespace quorlink::testing
