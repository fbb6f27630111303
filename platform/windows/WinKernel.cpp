// Kernel objects, waits and error texts: the Win32 calls themselves.
#include <cstdarg>

#include "platform/Kernel.h"

namespace quorlink::platform {

namespace {

class WinKernel final : public IKernel {
 public:
  DWORD GetLastError() override { return ::GetLastError(); }
  void SetLastError(DWORD code) override { ::SetLastError(code); }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
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
