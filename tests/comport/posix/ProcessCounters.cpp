#include "comport/ProcessCounters.h"

#include <dirent.h>

#include "platform/posix/HandleTable.h"

namespace quorlink::testing::comport {

namespace {
std::set<std::string> Entries(const char* dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    closedir(d);
  }
  return names;
}
}  // namespace

std::set<std::string> ThreadIds() {
  return Entries("/proc/self/task");
}
int ThreadCount() {
  return static_cast<int>(ThreadIds().size());
}
// Minus the descriptor of the listing itself.
int HandleCount() {
  return static_cast<int>(Entries("/proc/self/fd").size()) - 1;
}
void SyncWithBackend() {
  platform::posix::Handles().Size();  // the table's lock: what the last close took
}
int StressRounds(int rounds) {
  return rounds;
}

}  // namespace quorlink::testing::comport
