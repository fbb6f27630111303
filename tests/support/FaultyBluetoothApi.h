// A Bluetooth API decorator: records calls, fails a chosen one, and counts
// the searches and radio handles still open.
#pragma once

#include <mutex>
#include <set>

#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"
#include "support/FaultPlan.h"

namespace quorlink::testing {

class FaultyBluetoothApi final : public platform::IBluetoothApi {
 public:
  explicit FaultyBluetoothApi(FaultPlan& plan) : plan_(plan), inner_(platform::OsBluetoothApi()) {}

  HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* p,
                                                HANDLE* radio) override {
    if (plan_.Hit("BluetoothFindFirstRadio")) return Fail<HANDLE>(nullptr);
    HANDLE find = inner_.BluetoothFindFirstRadio(p, radio);
    if (find != nullptr) Track(searches_, find, true);
    return find;
  }
  BOOL BluetoothFindNextRadio(HBLUETOOTH_RADIO_FIND find, HANDLE* radio) override {
    if (plan_.Hit("BluetoothFindNextRadio")) return Fail(FALSE);
    return inner_.BluetoothFindNextRadio(find, radio);
  }
  BOOL BluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND find) override {
    Track(searches_, find, false);
    if (plan_.Hit("BluetoothFindRadioClose")) return Fail(FALSE);
    return inner_.BluetoothFindRadioClose(find);
  }
  DWORD BluetoothGetRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) override {
    if (plan_.Hit("BluetoothGetRadioInfo")) return plan_.Error();
    return inner_.BluetoothGetRadioInfo(radio, info);
  }
  HBLUETOOTH_DEVICE_FIND BluetoothFindFirstDevice(const BLUETOOTH_DEVICE_SEARCH_PARAMS* p,
                                                  BLUETOOTH_DEVICE_INFO* info) override {
    if (plan_.Hit("BluetoothFindFirstDevice")) return Fail<HANDLE>(nullptr);
    HANDLE find = inner_.BluetoothFindFirstDevice(p, info);
    if (find != nullptr) Track(searches_, find, true);
    return find;
  }
  BOOL BluetoothFindNextDevice(HBLUETOOTH_DEVICE_FIND find, BLUETOOTH_DEVICE_INFO* info) override {
    if (plan_.Hit("BluetoothFindNextDevice")) return Fail(FALSE);
    return inner_.BluetoothFindNextDevice(find, info);
  }
  BOOL BluetoothFindDeviceClose(HBLUETOOTH_DEVICE_FIND find) override {
    Track(searches_, find, false);
    if (plan_.Hit("BluetoothFindDeviceClose")) return Fail(FALSE);
    return inner_.BluetoothFindDeviceClose(find);
  }
  BOOL BluetoothSelectDevices(BLUETOOTH_SELECT_DEVICE_PARAMS* p) override {
    if (plan_.Hit("BluetoothSelectDevices")) return Fail(FALSE);
    return inner_.BluetoothSelectDevices(p);
  }
  BOOL BluetoothSelectDevicesFree(BLUETOOTH_SELECT_DEVICE_PARAMS* p) override {
    plan_.Hit("BluetoothSelectDevicesFree");
    return inner_.BluetoothSelectDevicesFree(p);
  }

  std::size_t OpenSearches() const {
    std::lock_guard lock(mutex_);
    return searches_.size();
  }

 private:
  template <class T>
  T Fail(T value) {
    platform::Kernel().SetLastError(plan_.Error());
    return value;
  }
  void Track(std::set<HANDLE>& set, HANDLE h, bool open) {
    std::lock_guard lock(mutex_);
    if (open) {
      set.insert(h);
    } else {
      set.erase(h);
    }
  }

  FaultPlan& plan_;
  platform::IBluetoothApi& inner_;
  mutable std::mutex mutex_;
  std::set<HANDLE> searches_;
};

}  // namespace quorlink::testing
