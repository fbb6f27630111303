#include <cstring>
#include <string_view>

#include "platform/Kernel.h"
#include "platform/posix/ErrorTexts.h"
#include "platform/posix/HandleTable.h"

namespace quorlink::platform {

namespace {

// Copies text into a caller's buffer as FormatMessage does: a terminating
// NUL, the count of characters without it, 0 with ERROR_INSUFFICIENT_BUFFER
// when it does not fit. The max-width flag ends the text at its line end.
template <class Char>
DWORD CopyMessage(DWORD flags, DWORD code, Char* buffer, DWORD size) {
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0 ||
      buffer == nullptr) {
    posix::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* text = posix::SystemErrorText(code);
  if (text == nullptr) {
    posix::SetLastError(ERROR_NOT_FOUND);
    return 0;
  }
  std::string_view body(text);
  std::string_view ending = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0 ? " " : "\r\n";
  const std::size_t length = body.size() + ending.size();
  if (length + 1 > size) {
    posix::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::size_t i = 0;
  for (char c : body) buffer[i++] = static_cast<Char>(static_cast<unsigned char>(c));
  for (char c : ending) buffer[i++] = static_cast<Char>(c);
  buffer[i] = 0;
  return static_cast<DWORD>(length);
}

class PosixKernel final : public IKernel {
 public:
  DWORD GetLastError() override { return posix::LastError(); }
  void SetLastError(DWORD code) override { posix::SetLastError(code); }

  BOOL CloseHandle(HANDLE handle) override {
    auto object = posix::Handles().Remove(handle);
    if (!object) {
      posix::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object->OnClose();
    return TRUE;
  }

  HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char* name) override {
    if (name != nullptr && *name != '\0') {
      posix::SetLastError(ERROR_NOT_SUPPORTED);
      return nullptr;
    }
    return posix::Handles().Insert(
        std::make_shared<posix::EventObject>(manualReset != FALSE, initialState != FALSE));
  }

  BOOL SetEvent(HANDLE event) override {
    return WithEvent(event, [](auto& e) { e.Set(); });
  }
  BOOL ResetEvent(HANDLE event) override {
    return WithEvent(event, [](auto& e) { e.Reset(); });
  }

  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    auto object = posix::Handles().Find(handle);
    if (!object) {
      posix::SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    return object->Wait(milliseconds);
  }

  DWORD FormatMessageA(DWORD flags, const void*, DWORD messageId, DWORD, char* buffer, DWORD size,
                       void*) override {
    return CopyMessage(flags, messageId, buffer, size);
  }
  DWORD FormatMessageW(DWORD flags, const void*, DWORD messageId, DWORD, WCHAR* buffer, DWORD size,
                       void*) override {
    return CopyMessage(flags, messageId, buffer, size);
  }

 private:
  template <class F>
  BOOL WithEvent(HANDLE handle, F f) {
    auto event = posix::Handles().FindAs<posix::EventObject>(handle);
    if (!event) {
      posix::SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    f(*event);
    return TRUE;
  }
};

}  // namespace

IKernel& OsKernel() {
  static PosixKernel* kernel = new PosixKernel;
  return *kernel;
}

}  // namespace quorlink::platform
