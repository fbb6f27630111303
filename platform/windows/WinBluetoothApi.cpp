// The Bluetooth API on Windows. With the virtual radio enabled its radios
// are this process's virtual radios and its devices the radios of every
// process; a radio handle is then an event handle (so CloseHandle closes it)
// that names the radio here. Otherwise every call is the system's.
#include <io.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "platform/BluetoothApi.h"
#include "platform/BluetoothRecords.h"
#include "platform/virtual/VirtualRadio.h"
#include "platform/virtual/VirtualRadioDevices.h"

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

class WinBluetoothApi final : public IBluetoothApi {
 public:
  HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                HANDLE* radio) override {
    if (!vradio::Enabled())
      return ::BluetoothFindFirstRadio(const_cast<BLUETOOTH_FIND_RADIO_PARAMS*>(params), radio);
    if (params == nullptr || params->dwSize != sizeof *params || radio == nullptr)
      return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    auto search = std::make_shared<RadioSearch>();
    search->radios = vradio::LocalRadioAddresses();
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
    return vradio::LocalRadioInfo(address, *info);
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
      radios = vradio::LocalRadioAddresses();
    }
    auto search = std::make_shared<DeviceSearch>();
    search->devices = vradio::FindDevices(*params, radios);
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
    const std::vector<BluetoothDeviceChoice> choices = vradio::DeviceChoices();
    const int chosen = PickDevice(choices);
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= choices.size())
      return Fail(ERROR_CANCELLED, FALSE);
    HandOverChosen(*params,
                   vradio::DeviceInfo(choices[static_cast<std::size_t>(chosen)].address, false));
    return TRUE;
  }

  // Ours whether or not the virtual radio still serves: the system must
  // never free a list it did not make.
  BOOL BluetoothSelectDevicesFree(BLUETOOTH_SELECT_DEVICE_PARAMS* params) override {
    if (ReleaseChosen(params)) return TRUE;
    if (vradio::Enabled()) return FALSE;
    return ::BluetoothSelectDevicesFree(params);
  }
};

}  // namespace

IBluetoothApi& OsBluetoothApi() {
  static WinBluetoothApi api;
  return api;
}

int TerminalDevicePicker(const std::vector<BluetoothDeviceChoice>& devices) {
  if (!_isatty(_fileno(stdin))) return -1;
  return PromptForDevice(devices, stdin, stderr);
}

}  // namespace quorlink::platform
