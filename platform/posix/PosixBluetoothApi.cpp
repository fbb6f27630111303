// The Bluetooth API on POSIX, over the chosen provider. The virtual radio's
// radios are this process's virtual radios, its devices the radios of every
// process; BlueZ's are its powered adapters and the devices it knows.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

#include "platform/BluetoothApi.h"
#include "platform/BluetoothRecords.h"
#include "platform/posix/BluetoothProvider.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/MainLoop.h"
#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Endpoint.h"
#include "platform/virtual/VirtualRadio.h"
#include "platform/virtual/VirtualRadioDevices.h"

namespace quorlink::platform {

namespace {

struct RadioObject final : posix::KernelObject {
  explicit RadioObject(BTH_ADDR a) : address(a) {}
  BTH_ADDR address;
  std::optional<std::string> bluezName;  // set for a BlueZ adapter
};

struct RadioSearch final : posix::KernelObject {
  std::vector<BTH_ADDR> radios;
  std::vector<std::string> bluezNames;  // beside radios, for BlueZ adapters
  std::size_t next = 0;
  HANDLE NewHandle();
};

struct DeviceSearch final : posix::KernelObject {
  std::vector<BLUETOOTH_DEVICE_INFO> devices;
  std::size_t next = 0;
};

template <class T>
T Fail(DWORD error, T value) {
  posix::SetLastError(error);
  return value;
}

HANDLE NewRadioHandle(BTH_ADDR address, std::optional<std::string> bluezName = std::nullopt) {
  auto radio = std::make_shared<RadioObject>(address);
  radio->bluezName = std::move(bluezName);
  return posix::Handles().Insert(radio);
}

bool UseBluez() {
  return posix::ChooseBluetoothProvider().kind == posix::BluetoothProviderKind::BlueZ;
}

// BlueZ's powered adapters and their devices, paired ones first: a device of
// a powered-off adapter cannot be reached, so no list offers it.
void BluezObjects(std::vector<posix::bluez::Adapter>& adapters,
                  std::vector<posix::bluez::Device>& devices) {
  if (posix::bluez::Objects(adapters, devices) != 0) {
    adapters.clear();
    devices.clear();
  }
  std::erase_if(adapters, [](const auto& a) { return !a.powered; });
  std::erase_if(devices, [&](const auto& d) {
    return std::none_of(adapters.begin(), adapters.end(),
                        [&](const auto& a) { return a.path == d.adapterPath; });
  });
  std::stable_partition(devices.begin(), devices.end(), [](const auto& d) { return d.paired; });
}

BLUETOOTH_DEVICE_INFO BluezDeviceInfo(const posix::bluez::Device& d) {
  BLUETOOTH_DEVICE_INFO info{};
  info.dwSize = sizeof info;
  info.Address.ullLong = d.address;
  info.ulClassofDevice = d.deviceClass;
  info.fConnected = d.connected ? TRUE : FALSE;
  info.fRemembered = d.paired ? TRUE : FALSE;
  info.fAuthenticated = d.paired ? TRUE : FALSE;
  CopyBluetoothName(d.name, info.szName);
  return info;
}

HANDLE RadioSearch::NewHandle() {
  const std::size_t i = next++;
  if (i < bluezNames.size()) return NewRadioHandle(radios[i], bluezNames[i]);
  return NewRadioHandle(radios[i]);
}

// The devices BlueZ knows on one adapter (0: every powered adapter), as the
// search's flags ask: connected ones, remembered (paired) ones, the others.
HANDLE FindFirstBluezDevice(const BLUETOOTH_DEVICE_SEARCH_PARAMS& params, BTH_ADDR radio,
                            BLUETOOTH_DEVICE_INFO* info) {
  std::vector<posix::bluez::Adapter> adapters;
  std::vector<posix::bluez::Device> devices;
  BluezObjects(adapters, devices);
  auto search = std::make_shared<DeviceSearch>();
  for (const auto& d : devices) {
    auto adapter = std::find_if(adapters.begin(), adapters.end(),
                                [&](const auto& a) { return a.path == d.adapterPath; });
    if (adapter == adapters.end() || (radio != 0 && adapter->address != radio)) continue;
    const bool wanted = (params.fReturnConnected && d.connected) ||
                        (params.fReturnRemembered && d.paired) ||
                        (params.fReturnUnknown && !d.paired);
    if (wanted) search->devices.push_back(BluezDeviceInfo(d));
  }
  if (search->devices.empty()) return Fail<HANDLE>(ERROR_NO_MORE_ITEMS, nullptr);
  *info = search->devices[search->next++];
  return posix::Handles().Insert(search);
}

// Pairs a BlueZ device for a picker asked to authenticate. The picker is
// modal: the main loop runs while the device pairs, as a dialog's would.
// 0 or a Winsock code.
int PairChosen(BTH_ADDR address) {
  auto result = std::make_shared<int>(-1);
  int code = posix::bluez::Pair(address, [result](int c) { *result = c; });
  if (code != WSAEWOULDBLOCK) return code;
  // Beyond the call's own timeout: a bus lost meanwhile never answers.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(75);
  while (*result < 0 && std::chrono::steady_clock::now() < deadline)
    posix::PosixMainLoop().ProcessMessage(100);
  return *result < 0 ? WSAETIMEDOUT : *result;
}

class PosixBluetoothApi final : public IBluetoothApi {
 public:
  HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                HANDLE* radio) override {
    if (params == nullptr || params->dwSize != sizeof *params || radio == nullptr)
      return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    auto search = std::make_shared<RadioSearch>();
    if (vradio::Enabled()) {
      search->radios = vradio::LocalRadioAddresses();
    } else if (UseBluez()) {
      std::vector<posix::bluez::Adapter> adapters;
      std::vector<posix::bluez::Device> devices;
      BluezObjects(adapters, devices);
      for (const auto& a : adapters) {
        search->radios.push_back(a.address);
        search->bluezNames.push_back(a.name);
      }
    }
    if (search->radios.empty()) return Fail<HANDLE>(ERROR_NO_MORE_ITEMS, nullptr);
    *radio = search->NewHandle();
    return posix::Handles().Insert(search);
  }

  BOOL BluetoothFindNextRadio(HBLUETOOTH_RADIO_FIND find, HANDLE* radio) override {
    auto search = posix::Handles().FindAs<RadioSearch>(find);
    if (!search || radio == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (search->next >= search->radios.size()) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
    *radio = search->NewHandle();
    return TRUE;
  }

  BOOL BluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND find) override {
    if (!posix::Handles().FindAs<RadioSearch>(find)) return Fail(ERROR_INVALID_HANDLE, FALSE);
    posix::Handles().Remove(find);
    return TRUE;
  }

  DWORD BluetoothGetRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) override {
    auto object = posix::Handles().FindAs<RadioObject>(radio);
    if (!object) return ERROR_INVALID_HANDLE;
    if (info == nullptr || info->dwSize != sizeof *info) return ERROR_INVALID_PARAMETER;
    if (!object->bluezName) return vradio::LocalRadioInfo(object->address, *info);
    FillRadioInfo(object->address, *object->bluezName, *info);
    return ERROR_SUCCESS;
  }

  HBLUETOOTH_DEVICE_FIND BluetoothFindFirstDevice(const BLUETOOTH_DEVICE_SEARCH_PARAMS* params,
                                                  BLUETOOTH_DEVICE_INFO* info) override {
    if (params == nullptr || params->dwSize != sizeof *params || info == nullptr ||
        info->dwSize != sizeof *info)
      return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    std::vector<BTH_ADDR> radios;
    std::shared_ptr<RadioObject> object;
    if (params->hRadio != nullptr) {
      object = posix::Handles().FindAs<RadioObject>(params->hRadio);
      if (!object) return Fail<HANDLE>(ERROR_INVALID_HANDLE, nullptr);
      radios.push_back(object->address);
    }
    if (object ? object->bluezName.has_value() : !vradio::Enabled() && UseBluez())
      return FindFirstBluezDevice(*params, object ? object->address : 0, info);
    if (params->hRadio == nullptr && vradio::Enabled()) radios = vradio::LocalRadioAddresses();
    auto search = std::make_shared<DeviceSearch>();
    search->devices = vradio::FindDevices(*params, radios);
    if (search->devices.empty()) return Fail<HANDLE>(ERROR_NO_MORE_ITEMS, nullptr);
    *info = search->devices[search->next++];
    return posix::Handles().Insert(search);
  }

  BOOL BluetoothFindNextDevice(HBLUETOOTH_DEVICE_FIND find, BLUETOOTH_DEVICE_INFO* info) override {
    auto search = posix::Handles().FindAs<DeviceSearch>(find);
    if (!search || info == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (search->next >= search->devices.size()) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
    *info = search->devices[search->next++];
    return TRUE;
  }

  BOOL BluetoothFindDeviceClose(HBLUETOOTH_DEVICE_FIND find) override {
    if (!posix::Handles().FindAs<DeviceSearch>(find)) return Fail(ERROR_INVALID_HANDLE, FALSE);
    posix::Handles().Remove(find);
    return TRUE;
  }

  BOOL BluetoothSelectDevices(BLUETOOTH_SELECT_DEVICE_PARAMS* params) override {
    if (params == nullptr || params->dwSize != sizeof *params)
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::vector<BluetoothDeviceChoice> choices;
    std::vector<BLUETOOTH_DEVICE_INFO> bluezDevices;
    if (vradio::Enabled()) {
      choices = vradio::DeviceChoices();
    } else if (UseBluez()) {
      std::vector<posix::bluez::Adapter> adapters;
      std::vector<posix::bluez::Device> devices;
      BluezObjects(adapters, devices);
      for (const auto& d : devices) {
        choices.push_back({d.address, d.name});
        bluezDevices.push_back(BluezDeviceInfo(d));
      }
    }
    int chosen = PickDevice(choices);
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= choices.size())
      return Fail(ERROR_CANCELLED, FALSE);
    const auto index = static_cast<std::size_t>(chosen);
    BLUETOOTH_DEVICE_INFO device = bluezDevices.empty()
                                       ? vradio::DeviceInfo(choices[index].address, false)
                                       : bluezDevices[index];
    if (!bluezDevices.empty() && params->fForceAuthentication && !device.fAuthenticated) {
      if (int code = PairChosen(device.Address.ullLong))
        return Fail(static_cast<DWORD>(code), FALSE);
      device.fAuthenticated = device.fRemembered = TRUE;
    }
    HandOverChosen(*params, device);
    return TRUE;
  }

  BOOL BluetoothSelectDevicesFree(BLUETOOTH_SELECT_DEVICE_PARAMS* params) override {
    return ReleaseChosen(params) ? TRUE : FALSE;
  }
};

}  // namespace

IBluetoothApi& OsBluetoothApi() {
  static PosixBluetoothApi api;
  return api;
}

int TerminalDevicePicker(const std::vector<BluetoothDeviceChoice>& devices) {
  if (!isatty(STDIN_FILENO)) return -1;
  return PromptForDevice(devices, stdin, stderr);
}

}  // namespace quorlink::platform
