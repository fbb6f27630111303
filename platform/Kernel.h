// Kernel objects, waits and error texts: the calls shared by every subsystem.
// All members may be called from any thread; last error is per thread.
#pragma once

#include "quorlink/platform/ApiSlot.h"
#include "quorlink/platform/Types.h"

namespace quorlink::platform {


class IKernel {
 public:
  virtual ~IKernel() = default;

  virtual DWORD GetLastError() = 0;
  virtual void SetLastError(DWORD code) = 0;

  virtual BOOL CloseHandle(HANDLE handle) = 0;
  // Unnamed events only; security attributes are ignored.
  virtual HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState,
                              const char* name) = 0;
  virtual BOOL SetEvent(HANDLE event) = 0;
  virtual BOOL ResetEvent(HANDLE event) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;

  // The system's text for a message id, as Win32 writes it; 0 when unknown.
  // Only FORMAT_MESSAGE_FROM_SYSTEM into a caller's buffer is supported.
  virtual DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                               char* buffer, DWORD size, void* arguments) = 0;
  virtual DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                               WCHAR* buffer, DWORD size, void* arguments) = 0;
};

IKernel& Kernel();
IKernel& OsKernel();  // defined by the build's OS backend
IKernel* SetKernel(IKernel* api);
using ScopedKernel = ScopedApi<IKernel, SetKernel>;

}  // namespace quorlink::platform
