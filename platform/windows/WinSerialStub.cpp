// Placeholder until the Windows serial backend is built: every call fails
// with ERROR_NOT_SUPPORTED, so a program learns at once that serial ports
// are missing from this build.
#include "platform/Serial.h"

namespace quorlink::platform {

namespace {

class SerialStub final : public ISerial {
 public:
  HANDLE CreateFileA(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  BOOL GetCommState(HANDLE, DCB*) override { return Fail(); }
  BOOL SetCommState(HANDLE, DCB*) override { return Fail(); }
  BOOL PurgeComm(HANDLE, DWORD) override { return Fail(); }
  BOOL SetCommMask(HANDLE, DWORD) override { return Fail(); }
  BOOL WaitCommEvent(HANDLE, DWORD*, OVERLAPPED*) override { return Fail(); }
  BOOL ClearCommError(HANDLE, DWORD*, COMSTAT*) override { return Fail(); }
  BOOL ReadFile(HANDLE, void*, DWORD, DWORD*, OVERLAPPED*) override { return Fail(); }
  BOOL WriteFile(HANDLE, const void*, DWORD, DWORD*, OVERLAPPED*) override { return Fail(); }

 private:
  static BOOL Fail() {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
};

}  // namespace

ISerial& OsSerial() {
  static SerialStub serial;
  return serial;
}

}  // namespace quorlink::platform
