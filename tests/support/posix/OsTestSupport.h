// The tests' OS pieces for POSIX (tests/support/windows has the same names).
#pragma once

#include <poll.h>
#include <stdlib.h>

#include <cstddef>
#include <string>

#include "platform/Types.h"
#include "platform/posix/MainLoop.h"

namespace quorlink::testing {

// Under an emulator (Wine) each message costs far more: stress tests scale
// their counts by this.
inline constexpr int kStressScale = 1;

// True when the loop's pollable handle is ready within timeoutMs.
inline bool WaitReady(TPollHandle handle, int timeoutMs) {
  pollfd p{handle, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN) != 0;
}

// The hidden windows alive now.
inline std::size_t LiveWindowCount() {
  return platform::posix::PosixMainLoop().WindowCount();
}

// A new empty directory; removed by the caller.
inline std::string MakeTempDir(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace quorlink::testing
