// The tests' OS pieces for Windows (tests/support/posix has the same names).
#pragma once

#include <cstddef>
#include <string>

#include "quorlink/platform/Types.h"

namespace quorlink::testing {

// Under Wine a message costs 40-90 us against about 1 us natively: stress
// tests run a tenth of their counts (the same paths, fewer rounds).
inline constexpr int kStressScale = 10;

// True under Wine, whose ntdll alone exports wine_get_version: for the few
// facts Wine does not give (the reason is printed with the skip).
inline bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// True when the loop's event is set within timeoutMs.
inline bool WaitReady(TPollHandle handle, int timeoutMs) {
  return ::WaitForSingleObject(handle, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

// The system's own text for an error code, without its line end (Wine's
// texts differ from Windows' in places).
inline std::string SystemErrorText(DWORD code) {
  char text[512] = {};
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ')) --n;
  return std::string(text, n);
}

// The library's message-only windows alive now in this process (other test
// programs run beside it on the same desktop).
inline std::size_t LiveWindowCount() {
  std::size_t n = 0;
  HWND w = nullptr;
  while ((w = ::FindWindowExA(HWND_MESSAGE, w, "QuorlinkMessageWindow", nullptr)) != nullptr) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(w, &owner);
    if (owner == ::GetCurrentProcessId()) ++n;
  }
  return n;
}

// The process's kernel handles now: Windows keeps no table of the library's
// own, so every handle counts.
inline std::size_t LiveHandleCount() {
  DWORD n = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &n);
  return n;
}

inline int ProcessHandleCount() {
  return static_cast<int>(LiveHandleCount());
}

// A new empty directory; removed by the caller.
inline std::string MakeTempDir(const std::string& prefix) {
  char base[MAX_PATH + 1];
  const DWORD n = ::GetTempPathA(sizeof base, base);
  if (n == 0 || n > MAX_PATH) return {};
  for (unsigned i = 0; i < 100; ++i) {
    std::string path = std::string(base) + prefix + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(::GetTickCount64() + i);
    if (::CreateDirectoryA(path.c_str(), nullptr)) return path;
  }
  return {};
}

}  // namespace quorlink::testing
