#include "platform/BluetoothRecords.h"

#include <cstring>
#include <mutex>
#include <set>

namespace quorlink::platform {

void CopyBluetoothName(const std::string& text, WCHAR (&out)[BLUETOOTH_MAX_NAME_SIZE]) {
  std::memset(out, 0, sizeof out);
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    char32_t cp = c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra > 0) cp = c & (0x3F >> extra);
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    const std::size_t units = cp >= 0x10000 ? 2 : 1;
    if (n + units >= BLUETOOTH_MAX_NAME_SIZE) break;  // the zero keeps its place
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[n++] = static_cast<WCHAR>(0xD800 + (cp >> 10));
      out[n++] = static_cast<WCHAR>(0xDC00 + (cp & 0x3FF));
    } else {
      out[n++] = static_cast<WCHAR>(cp);
    }
  }
}

void FillRadioInfo(BTH_ADDR address, const std::string& name, BLUETOOTH_RADIO_INFO& info) {
  std::memset(&info, 0, sizeof info);
  info.dwSize = sizeof info;
  info.address.ullLong = address;
  CopyBluetoothName(name, info.szName);
  info.manufacturer = 0xFFFF;
}

namespace {

// The lists handed over and not yet freed: only those are ours to free.
struct HandedOver {
  std::mutex mutex;
  std::set<const BLUETOOTH_DEVICE_INFO*> lists;
};

HandedOver& Handed() {
  static HandedOver* handed = new HandedOver;
  return *handed;
}

}  // namespace

void HandOverChosen(BLUETOOTH_SELECT_DEVICE_PARAMS& params, const BLUETOOTH_DEVICE_INFO& device) {
  auto* devices = new BLUETOOTH_DEVICE_INFO[1]{device};
  {
    std::lock_guard lock(Handed().mutex);
    Handed().lists.insert(devices);
  }
  params.cNumDevices = 1;
  params.pDevices = devices;
}

bool ReleaseChosen(BLUETOOTH_SELECT_DEVICE_PARAMS* params) {
  if (params == nullptr || params->pDevices == nullptr) return false;
  {
    std::lock_guard lock(Handed().mutex);
    if (Handed().lists.erase(params->pDevices) == 0) return false;
  }
  delete[] params->pDevices;
  params->pDevices = nullptr;
  params->cNumDevices = 0;
  return true;
}

int PromptForDevice(const std::vector<BluetoothDeviceChoice>& devices, std::FILE* in,
                    std::FILE* out) {
  if (devices.empty()) return -1;
  std::fprintf(out, "Bluetooth devices:\n");
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const BTH_ADDR a = devices[i].address;
    std::fprintf(out, "  %u. (%02X:%02X:%02X:%02X:%02X:%02X) %s\n", unsigned(i + 1),
                 unsigned(a >> 40 & 0xFF), unsigned(a >> 32 & 0xFF), unsigned(a >> 24 & 0xFF),
                 unsigned(a >> 16 & 0xFF), unsigned(a >> 8 & 0xFF), unsigned(a & 0xFF),
                 devices[i].name.c_str());
  }
  std::fprintf(out, "Choose a device (1-%u, anything else cancels): ", unsigned(devices.size()));
  std::fflush(out);
  char line[64];
  if (std::fgets(line, sizeof line, in) == nullptr) return -1;
  unsigned long choice = 0;
  if (std::sscanf(line, "%lu", &choice) != 1 || choice < 1 || choice > devices.size()) return -1;
  return static_cast<int>(choice - 1);
}

}  // namespace quorlink::platform
