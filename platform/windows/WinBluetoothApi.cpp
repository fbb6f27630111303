// The Bluetooth API on Windows. With the virtual radio enabled its radios
// are this process's virtual radios and its devices the radios of every
// process; a radio handle is then an event handle (so CloseHandle closes it)
// that names the radio here. Otherwise every call is the system's.
#include <io.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/BluetoothApi.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink::platform {

namespace {

struct RadioSearch {
  std::vector<BTH_ADDR> radios;
  std::size_t next = 0;
};

struct DeviceSearch {
  std::vector<BLUETOOTH_DEVICE_INFO> devices;
  std::size_t next = 0;
};

// The virtual radio's handles: radios (event handles, closed by CloseHandle,
// so a stale entry is replaced when Windows reuses the value) and searches
// (values of this table alone).
class Handles {
 public:
  HANDLE NewRadio(BTH_ADDR address) {
    HANDLE h = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (h == nullptr) return nullptr;
    std::lock_guard lock(mutex_);
    radios_[h] = address;
    return h;
  }
  bool Radio(HANDLE h, BTH_ADDR& address) {
    std::lock_guard lock(mutex_);
    auto it = radios_.find(h);
    if (it == radios_.end()) return false;
    address = it->second;
    return true;
  }
  template <class T>
  HANDLE Insert(std::map<HANDLE, std::shared_ptr<T>>& table, std::shared_ptr<T> search) {
    std::lock_guard lock(mutex_);
    HANDLE h = reinterpret_cast<HANDLE>(search.get());
    table[h] = std::move(search);
    return h;
  }
  template <class T>
  std::shared_ptr<T> Find(std::map<HANDLE, std::shared_ptr<T>>& table, HANDLE h) {
    std::lock_guard lock(mutex_);
    auto it = table.find(h);
    return it == table.end() ? nullptr : it->second;
  }
  template <class T>
  bool Remove(std::map<HANDLE, std::shared_ptr<T>>& table, HANDLE h) {
    std::lock_guard lock(mutex_);
    return table.erase(h) > 0;
  }
  std::map<HANDLE, std::shared_ptr<RadioSearch>> radioSearches;
  std::map<HANDLE, std::shared_ptr<DeviceSearch>> deviceSearches;

 private:
  std::mutex mutex_;
  std::map<HANDLE, BTH_ADDR> radios_;
};

Handles& H() {
  static Handles* handles = new Handles;
  return *handles;
}

template <class T>
T Fail(DWORD error, T value) {
  ::SetLastError(error);
  return value;
}

void CopyName(const std::string& text, WCHAR (&out)[BLUETOOTH_MAX_NAME_SIZE]) {
  std::memset(out, 0, sizeof out);
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out, BLUETOOTH_MAX_NAME_SIZE - 1);
}

BLUETOOTH_DEVICE_INFO DeviceInfo(BTH_ADDR address, bool connected) {
  BLUETOOTH_DEVICE_INFO info{};
  info.dwSize = sizeof info;
  info.Address.ullLong = address;
  info.fConnected = connected ? TRUE : FALSE;
  CopyName(vradio::RadioName(address).value_or(""), info.szName);
  return info;
}

class WinBluetoothApi final : public IBluetoothApi {
 public:
  HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                HANDLE* radio) override {
    if (!vradio::Enabled())
      return ::BluetoothFindFirstRadio(const_cast<BLUETOOTH_FIND_RADIO_PARAMS*>(params), radio);
    if (params == nullptr || params->dwSize != sizeof *params || radio == nullptr)
      return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    auto search = std::make_shared<RadioSearch>();
    for (const auto& r : vradio::LocalRadios()) search->radios.push_back(r.address);
    if (search->radios.empty()) return Fail<HANDLE>(ERROR_NO_MORE_ITEMS, nullptr);
    *radio = H().NewRadio(search->radios[search->next++]);
    return H().Insert(H().radioSearches, search);
  }

  BOOL BluetoothFindNextRadio(HBLUETOOTH_RADIO_FIND find, HANDLE* radio) override {
    auto search = H().Find(H().radioSearches, find);
    if (!search) return ::BluetoothFindNextRadio(find, radio);
    if (radio == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (search->next >= search->radios.size()) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
    *radio = H().NewRadio(search->radios[search->next++]);
    return TRUE;
  }

  BOOL BluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND find) override {
    if (H().Remove(H().radioSearches, find)) return TRUE;
    return ::BluetoothFindRadioClose(find);
  }

  DWORD BluetoothGetRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) override {
    BTH_ADDR address = 0;
    if (!H().Radio(radio, address)) return ::BluetoothGetRadioInfo(radio, info);
    if (info == nullptr || info->dwSize != sizeof *info) return ERROR_INVALID_PARAMETER;
    auto name = vradio::RadioName(address);
    if (!name || !vradio::IsLocalRadio(address)) return ERROR_DEV_NOT_EXIST;
    std::memset(info, 0, sizeof *info);
    info->dwSize = sizeof *info;
    info->address.ullLong = address;
    CopyName(*name, info->szName);
    info->manufacturer = 0xFFFF;
    return ERROR_SUCCESS;
  }

  HBLUETOOTH_DEVICE_FIND BluetoothFindFirstDevice(const BLUETOOTH_DEVICE_SEARCH_PARAMS* params,
                                                  BLUETOOTH_DEVICE_INFO* info) override {
    if (!vradio::Enabled())
      return ::BluetoothFindFirstDevice(const_cast<BLUETOOTH_DEVICE_SEARCH_PARAMS*>(params), info);
    if (params == nullptr || params->dwSize != sizeof *params || info == nullptr ||
        info->dwSize != sizeof *info)
      return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    std::vector<BTH_ADDR> radios;
    if (params->hRadio != nullptr) {
      BTH_ADDR address = 0;
      if (!H().Radio(params->hRadio, address)) return Fail<HANDLE>(ERROR_INVALID_HANDLE, nullptr);
      radios.push_back(address);
    } else {
      for (const auto& r : vradio::LocalRadios()) radios.push_back(r.address);
    }
    auto search = std::make_shared<DeviceSearch>();
    auto listed = [&](BTH_ADDR a) {
      for (const auto& d : search->devices)
        if (d.Address.ullLong == a) return true;
      return false;
    };
    for (BTH_ADDR radio : radios) {
      if (params->fReturnConnected)
        for (BTH_ADDR peer : vradio::ConnectedDevices(radio))
          if (!listed(peer)) search->devices.push_back(DeviceInfo(peer, true));
      if (params->fReturnRemembered || params->fReturnUnknown)
        for (const auto& known : vradio::KnownRadios())
          if (known.address != radio && !listed(known.address))
            search->devices.push_back(DeviceInfo(known.address, false));
    }
    if (search->devices.empty()) return Fail<HANDLE>(ERROR_NO_MORE_ITEMS, nullptr);
    *info = search->devices[search->next++];
    return H().Insert(H().deviceSearches, search);
  }

  BOOL BluetoothFindNextDevice(HBLUETOOTH_DEVICE_FIND find, BLUETOOTH_DEVICE_INFO* info) override {
    auto search = H().Find(H().deviceSearches, find);
    if (!search) return ::BluetoothFindNextDevice(find, info);
    if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (search->next >= search->devices.size()) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
    *info = search->devices[search->next++];
    return TRUE;
  }

  BOOL BluetoothFindDeviceClose(HBLUETOOTH_DEVICE_FIND find) override {
    if (H().Remove(H().deviceSearches, find)) return TRUE;
    return ::BluetoothFindDeviceClose(find);
  }

  BOOL BluetoothSelectDevices(BLUETOOTH_SELECT_DEVICE_PARAMS* params) override {
    if (!vradio::Enabled()) return ::BluetoothSelectDevices(params);
    if (params == nullptr || params->dwSize != sizeof *params)
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::vector<BluetoothDeviceChoice> choices;
    for (const auto& r : vradio::KnownRadios()) choices.push_back({r.address, r.name});
    const int chosen = PickDevice(choices);
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= choices.size())
      return Fail(ERROR_CANCELLED, FALSE);
    auto* devices = new BLUETOOTH_DEVICE_INFO[1];
    devices[0] = DeviceInfo(choices[static_cast<std::size_t>(chosen)].address, false);
    params->cNumDevices = 1;
    params->pDevices = devices;
    return TRUE;
  }

  BOOL BluetoothSelectDevicesFree(BLUETOOTH_SELECT_DEVICE_PARAMS* params) override {
    if (!vradio::Enabled()) return ::BluetoothSelectDevicesFree(params);
    if (params == nullptr || params->pDevices == nullptr) return FALSE;
    delete[] params->pDevices;
    params->pDevices = nullptr;
    params->cNumDevices = 0;
    return TRUE;
  }
};

}  // namespace

IBluetoothApi& OsBluetoothApi() {
  static WinBluetoothApi api;
  return api;
}

int TerminalDevicePicker(const std::vector<BluetoothDeviceChoice>& devices) {
  if (devices.empty() || !_isatty(_fileno(stdin))) return -1;
  std::fprintf(stderr, "Bluetooth devices:\n");
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const BTH_ADDR a = devices[i].address;
    std::fprintf(stderr, "  %u. (%02X:%02X:%02X:%02X:%02X:%02X) %s\n", unsigned(i + 1),
                 unsigned(a >> 40 & 0xFF), unsigned(a >> 32 & 0xFF), unsigned(a >> 24 & 0xFF),
                 unsigned(a >> 16 & 0xFF), unsigned(a >> 8 & 0xFF), unsigned(a & 0xFF),
                 devices[i].name.c_str());
  }
  std::fprintf(stderr, "Choose a device (1-%u, anything else cancels): ", unsigned(devices.size()));
  char line[64];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return -1;
  unsigned long choice = 0;
  if (std::sscanf(line, "%lu", &choice) != 1 || choice < 1 || choice > devices.size()) return -1;
  return static_cast<int>(choice - 1);
}

}  // namespace quorlink::platform
