#include <string>

#include "platform/posix/HandleTable.h"
#include "platform/posix/SerialPort.h"
#include "quorlink/platform/Serial.h"

namespace quorlink::platform {

namespace {

using posix::SerialPort;

// The device behind a COM name: a bound path, else /dev/ttyS{n-1}.
std::optional<std::string> DevicePath(const char* name) {
  if (name == nullptr) return std::nullopt;
  if (auto bound = BoundComPort(name)) return bound;
  auto n = ComPortNumber(name);
  if (!n || *n == 0) return std::nullopt;
  return "/dev/ttyS" + std::to_string(*n - 1);
}

class PosixSerial final : public ISerial {
 public:
  HANDLE CreateFileA(const char* name, DWORD, DWORD, void*, DWORD creationDisposition, DWORD,
                     HANDLE) override {
    if (creationDisposition != OPEN_EXISTING) return Invalid(ERROR_INVALID_PARAMETER);
    auto path = DevicePath(name);
    if (!path) return Invalid(ERROR_FILE_NOT_FOUND);
    auto port = SerialPort::Open(*path);
    if (!port) return INVALID_HANDLE_VALUE;
    return posix::Handles().Insert(std::move(port));
  }
  BOOL GetCommState(HANDLE h, DCB* dcb) override {
    return With(h, [&](SerialPort& p) { return dcb ? p.GetState(*dcb) : Bad(); });
  }
  BOOL SetCommState(HANDLE h, DCB* dcb) override {
    return With(h, [&](SerialPort& p) { return dcb ? p.SetState(*dcb) : Bad(); });
  }
  BOOL PurgeComm(HANDLE h, DWORD flags) override {
    return With(h, [&](SerialPort& p) { return p.Purge(flags); });
  }
  BOOL SetCommMask(HANDLE h, DWORD mask) override {
    return With(h, [&](SerialPort& p) { return p.SetMask(mask); });
  }
  BOOL WaitCommEvent(HANDLE h, DWORD* mask, OVERLAPPED* ov) override {
    return With(h, [&](SerialPort& p) { return p.WaitEvent(mask, ov); });
  }
  BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* stat) override {
    return With(h, [&](SerialPort& p) { return p.ClearError(errors, stat); });
  }
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read, OVERLAPPED*) override {
    return With(h, [&](SerialPort& p) { return p.Read(buffer, toRead, read); });
  }
  BOOL WriteFile(HANDLE h, const void* buffer, DWORD toWrite, DWORD* written,
                 OVERLAPPED* ov) override {
    return With(h, [&](SerialPort& p) { return p.Write(buffer, toWrite, written, ov); });
  }
  BOOL EscapeCommFunction(HANDLE h, DWORD function) override {
    return With(h, [&](SerialPort& p) { return p.Escape(function); });
  }
  BOOL GetCommModemStatus(HANDLE h, DWORD* status) override {
    return With(h, [&](SerialPort& p) { return p.ModemStatus(status); });
  }

 private:
  static HANDLE Invalid(DWORD code) {
    posix::SetLastError(code);
    return INVALID_HANDLE_VALUE;
  }
  static BOOL Bad() {
    posix::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The entry is held for the whole call, so a close on another thread
  // cannot free the descriptor under it.
  template <class F>
  static BOOL With(HANDLE h, F f) {
    auto port = posix::Handles().FindAs<SerialPort>(h);
    if (!port) {
      posix::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    return f(*port);
  }
};

}  // namespace

ISerial& OsSerial() {
  static PosixSerial* serial = new PosixSerial;
  return *serial;
}

}  // namespace quorlink::platform
