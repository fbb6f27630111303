// The tests' OS pieces for POSIX (tests/support/windows has the same names).
#pragma once

#include <dirent.h>
#include <poll.h>
#include <stdlib.h>

#include <cstddef>
#include <string>

#include "quorlink/platform/Types.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/MainLoop.h"

namespace quorlink::testing {

// Under an emulator (Wine) each message costs far more: stress tests scale
// their counts by this.
inline constexpr int kStressScale = 1;

inline bool UnderWine() {
  return false;
}

// True when the loop's pollable handle is ready within timeoutMs.
inline bool WaitReady(TPollHandle handle, int timeoutMs) {
  pollfd p{handle, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN) != 0;
}

// The text Windows gives for an error code (the POSIX backend writes the
// same): the codes the tests name.
inline std::string SystemErrorText(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
      return "Access is denied.";
    default:
      return "";
  }
}

// The hidden windows alive now.
inline std::size_t LiveWindowCount() {
  return platform::posix::PosixMainLoop().WindowCount();
}

// The library's handles alive now (its emulated handle table).
inline std::size_t LiveHandleCount() {
  return platform::posix::Handles().Size();
}

// Every descriptor the process holds, the library's and the system's.
inline int ProcessHandleCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

// A new empty directory; removed by the caller.
inline std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace quorlink::testing
