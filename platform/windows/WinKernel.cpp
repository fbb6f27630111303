// Kernel objects, waits and error texts: the Win32 calls themselves.
#include <cstdarg>

#include "platform/Kernel.h"
#include "platform/windows/WinSerialClose.h"

namespace quorlink::platform {

namespace {

class WinKernel final : public IKernel {
 public:
  DWORD GetLastError() override { return ::GetLastError(); }
  void SetLastError(DWORD code) override { ::SetLastError(code); }
  // A serial port's handle names the serial backend's device: its close
  // ends the port's pending wait and lets its output drain.
  BOOL CloseHandle(HANDLE handle) override {
    return windows::CloseSerialPort(handle) ? TRUE : ::CloseHandle(handle);
  }
  HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState,
                      const char* name) override {
    return ::CreateEventA(static_cast<SECURITY_ATTRIBUTES*>(securityAttributes), manualReset,
                          initialState, name);
  }
  BOOL SetEvent(HANDLE event) override { return ::SetEvent(event); }
  BOOL ResetEvent(HANDLE event) override { return ::ResetEvent(event); }
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    return ::WaitForSingleObject(handle, milliseconds);
  }
  DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                       char* buffer, DWORD size, void* arguments) override {
    return ::FormatMessageA(flags, source, messageId, languageId, buffer, size,
                            static_cast<va_list*>(arguments));
  }
  DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                       WCHAR* buffer, DWORD size, void* arguments) override {
    return ::FormatMessageW(flags, source, messageId, languageId, buffer, size,
                            static_cast<va_list*>(arguments));
  }
};

}  // namespace

IKernel& OsKernel() {
  static WinKernel kernel;
  return kernel;
}

}  // namespace quorlink::platform
