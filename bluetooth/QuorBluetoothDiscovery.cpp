// The local side and device choice of TQuorBluetooth: the socket's local
// address and radio name, the radio that owns the socket's address, and the
// platform's device picker.
#include <cstring>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothText.h"
#include "quorlink/core/SysUtils.h"
#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"
#include "platform/Winsock.h"

namespace quorlink {

namespace {

std::string TextOf(const char* buffer, std::size_t size) {
  return std::string(buffer, strnlen(buffer, size));
}

// Closes a radio handle unless it is handed on.
struct RadioHandle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~RadioHandle() { Close(); }
  void Close() {
    if (handle != INVALID_HANDLE_VALUE) platform::Kernel().CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  HANDLE Release() {
    HANDLE h = handle;
    handle = INVALID_HANDLE_VALUE;
    return h;
  }
};

struct RadioSearch {
  HBLUETOOTH_RADIO_FIND find = nullptr;
  ~RadioSearch() {
    if (find != nullptr) platform::BluetoothApi().BluetoothFindRadioClose(find);
  }
};

}  // namespace

std::string TQuorBluetooth::GetLocalAddress() {
  CheckNotActive();
  SOCKADDR_BTH addr;
  MakeAddr(addr, true);
  return SocketAddressText(SocketHandle, addr);
}

std::string TQuorBluetooth::GetLocalName() {
  CheckNotActive();
  RadioHandle radio;
  radio.handle = GetRadioByAddress();
  if (radio.handle == INVALID_HANDLE_VALUE) return {};
  BLUETOOTH_RADIO_INFO info{};
  info.dwSize = sizeof info;
  if (platform::BluetoothApi().BluetoothGetRadioInfo(radio.handle, &info) != ERROR_SUCCESS)
    return {};
  return NarrowName(info.szName, BLUETOOTH_MAX_NAME_SIZE);
}

HANDLE TQuorBluetooth::GetRadioByAddress() {
  auto& api = platform::BluetoothApi();
  RadioHandle radio;
  RadioSearch search;
  BLUETOOTH_FIND_RADIO_PARAMS params{};
  params.dwSize = sizeof params;
  search.find = api.BluetoothFindFirstRadio(&params, &radio.handle);
  if (search.find == nullptr) {
    radio.handle = INVALID_HANDLE_VALUE;
    return INVALID_HANDLE_VALUE;
  }
  for (;;) {
    BLUETOOTH_RADIO_INFO info{};
    info.dwSize = sizeof info;
    if (api.BluetoothGetRadioInfo(radio.handle, &info) == ERROR_SUCCESS &&
        static_cast<BTH_ADDR>(MakeAddressFromString(GetLocalAddress())) == info.address.ullLong)
      return radio.Release();
    radio.Close();
    if (!api.BluetoothFindNextRadio(search.find, &radio.handle)) {
      radio.handle = INVALID_HANDLE_VALUE;
      return INVALID_HANDLE_VALUE;
    }
  }
}

std::string TQuorBluetooth::SelectDevice() {
  auto& api = platform::BluetoothApi();
  BLUETOOTH_SELECT_DEVICE_PARAMS params{};
  params.dwSize = sizeof params;
  const BOOL yes = static_cast<BOOL>(0xFFFFFFFF);
  params.fForceAuthentication = yes;
  params.fShowAuthenticated = yes;
  params.fShowRemembered = yes;
  params.fShowUnknown = yes;
  params.cNumDevices = 1;
  if (!api.BluetoothSelectDevices(&params)) return {};
  struct FreeDevices {
    BLUETOOTH_SELECT_DEVICE_PARAMS& params;
    ~FreeDevices() { platform::BluetoothApi().BluetoothSelectDevicesFree(&params); }
  } freeDevices{params};
  InitWSA();
  struct ReleaseWinsock {
    TQuorBluetooth& owner;
    ~ReleaseWinsock() { owner.FreeWSA(); }
  } releaseWinsock{*this};
  SOCKADDR_BTH addr;
  MakeAddr(addr, false);
  addr.btAddr = params.pDevices != nullptr ? params.pDevices[0].Address.ullLong : 0;
  if (addr.btAddr == 0) return {};
  char text[256] = {};
  DWORD textLength = sizeof text;
  if (platform::Winsock().WSAAddressToStringA(reinterpret_cast<SOCKADDR*>(&addr), sizeof addr,
                                              nullptr, text, &textLength) != 0)
    RaiseLastOSError();
  std::string result = TextOf(text, sizeof text);
  // Only the address part: a channel may follow the ")".
  const auto close = result.find(')');
  return close == std::string::npos ? std::string() : result.substr(0, close + 1);
}

}  // namespace quorlink
