#include <windows.h>
// After <windows.h>.
#include <tlhelp32.h>

#include <string>

#include "comport/ProcessCounters.h"
#include "quorlink/platform/Serial.h"

namespace quorlink::testing::comport {

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == self) ids.insert(std::to_string(entry.th32ThreadID));
  ::CloseHandle(snapshot);
  return ids;
}
int ThreadCount() {
  return static_cast<int>(ThreadIds().size());
}
int HandleCount() {
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  return static_cast<int>(count);
}
void SyncWithBackend() {
  // Any serial call takes the lock of the backend's port table.
  platform::Serial().ClearCommError(nullptr, nullptr, nullptr);
}
// Under Wine every call and message costs 40-90 us: a tenth of the rounds.
int StressRounds(int rounds) {
  return rounds < 10 ? rounds : rounds / 10;
}

}  // namespace quorlink::testing::comport
