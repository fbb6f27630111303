// The serial calls over Win32. A port's handle is an event of our own that
// names a WinSerialDevice (so that a close reaches the device, see
// WinSerialClose.h); the device keeps the contract of platform/Serial.h.
//
// COM names: "COMn" and "\\.\COMn" open "\\.\COMn" (the only form that
// reaches COM10 and above); a binding (BindComPort) to another COM name or
// to any Win32 device path opens that instead.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "platform/windows/WinSerialClose.h"
#include "platform/windows/WinSerialDevice.h"
#include "quorlink/platform/Serial.h"

namespace quorlink::platform {

// On Windows the library's records are the SDK's own.
static_assert(std::is_same_v<quorlink::DCB, ::DCB>);
static_assert(std::is_same_v<quorlink::COMSTAT, ::COMSTAT>);
static_assert(std::is_same_v<quorlink::OVERLAPPED, ::OVERLAPPED>);

namespace {

using windows::WinSerialDevice;

struct Ports {
  std::mutex mutex;
  std::map<HANDLE, std::shared_ptr<WinSerialDevice>> open;
};
Ports& OpenPorts() {
  static auto* ports = new Ports;  // outlives every static user
  return *ports;
}

std::shared_ptr<WinSerialDevice> Find(HANDLE h) {
  auto& ports = OpenPorts();
  std::lock_guard lock(ports.mutex);
  auto it = ports.open.find(h);
  return it == ports.open.end() ? nullptr : it->second;
}

// The Win32 path behind a COM name, nullopt when it names no port.
std::optional<std::string> DevicePath(const char* name) {
  if (name == nullptr) return std::nullopt;
  std::string target = name;
  if (auto bound = BoundComPort(target))
    target = *bound;
  else if (!ComPortNumber(target))
    return std::nullopt;
  auto n = ComPortNumber(target);
  if (!n) return target;  // bound to a device path of its own
  if (*n == 0) return std::nullopt;
  return "\\\\.\\COM" + std::to_string(*n);
}

BOOL Fail(DWORD code) {
  ::SetLastError(code);
  return FALSE;
}

class WinSerial final : public ISerial {
 public:
  HANDLE CreateFileA(const char* name, DWORD, DWORD, void*, DWORD creationDisposition, DWORD,
                     HANDLE) override {
    if (creationDisposition != OPEN_EXISTING) return Invalid(ERROR_INVALID_PARAMETER);
    auto path = DevicePath(name);
    if (!path) return Invalid(ERROR_FILE_NOT_FOUND);
    auto device = WinSerialDevice::Open(*path);
    if (!device) return INVALID_HANDLE_VALUE;
    HANDLE token = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (token == nullptr) {
      const DWORD error = ::GetLastError();
      device->Close();
      return Invalid(error);
    }
    auto& ports = OpenPorts();
    std::lock_guard lock(ports.mutex);
    ports.open.emplace(token, std::move(device));
    return token;
  }
  BOOL GetCommState(HANDLE h, DCB* dcb) override {
    return With(h, [&](WinSerialDevice& d) { return dcb ? d.GetState(*dcb) : Bad(); });
  }
  BOOL SetCommState(HANDLE h, DCB* dcb) override {
    return With(h, [&](WinSerialDevice& d) { return dcb ? d.SetState(*dcb) : Bad(); });
  }
  BOOL PurgeComm(HANDLE h, DWORD flags) override {
    return With(h, [&](WinSerialDevice& d) { return d.Purge(flags); });
  }
  BOOL SetCommMask(HANDLE h, DWORD mask) override {
    return With(h, [&](WinSerialDevice& d) { return d.SetMask(mask); });
  }
  BOOL WaitCommEvent(HANDLE h, DWORD* mask, OVERLAPPED* ov) override {
    return With(h, [&](WinSerialDevice& d) { return d.WaitEvent(mask, ov); });
  }
  BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* stat) override {
    return With(h, [&](WinSerialDevice& d) { return d.ClearError(errors, stat); });
  }
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, OVERLAPPED*) override {
    return With(h, [&](WinSerialDevice& d) { return d.Read(buffer, toRead, read); });
  }
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written,
                 OVERLAPPED* ov) override {
    return With(h, [&](WinSerialDevice& d) { return d.Write(buffer, toWrite, written, ov); });
  }
  BOOL EscapeCommFunction(HANDLE h, DWORD function) override {
    return With(h, [&](WinSerialDevice& d) { return d.Escape(function); });
  }
  BOOL GetCommModemStatus(HANDLE h, DWORD* status) override {
    return With(h, [&](WinSerialDevice& d) { return d.ModemStatus(status); });
  }

 private:
  static HANDLE Invalid(DWORD code) {
    ::SetLastError(code);
    return INVALID_HANDLE_VALUE;
  }
  static BOOL Bad() { return Fail(ERROR_INVALID_PARAMETER); }
  // The device is held for the whole call: a close on another thread lets
  // go of it only when the call is done.
  template <class F>
  static BOOL With(HANDLE h, F f) {
    auto device = Find(h);
    if (!device) return Fail(ERROR_INVALID_HANDLE);
    return f(*device);
  }
};

}  // namespace

ISerial& OsSerial() {
  static auto* serial = new WinSerial;
  return *serial;
}

bool windows::CloseSerialPort(HANDLE handle) {
  std::shared_ptr<WinSerialDevice> device;
  {
    auto& ports = OpenPorts();
    std::lock_guard lock(ports.mutex);
    auto it = ports.open.find(handle);
    if (it == ports.open.end()) return false;
    device = std::move(it->second);
    ports.open.erase(it);
  }
  device->Close();
  ::CloseHandle(handle);
  return true;
}

}  // namespace quorlink::platform
