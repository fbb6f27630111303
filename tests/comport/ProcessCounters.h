// What the process holds, to show that a test leaves no thread or handle
// behind; each system has its own (posix/, windows/).
#pragma once

#include <set>
#include <string>

namespace quorlink::testing::comport {

// The ids of the process's threads now.
std::set<std::string> ThreadIds();
int ThreadCount();
// Open descriptors (POSIX) or kernel handles (Windows).
int HandleCount();
// Orders what the backend's last close did before what the caller does next
// (a thread's end seen from outside orders nothing).
void SyncWithBackend();
// A stress test's rounds: fewer where every call costs far more (Wine).
int StressRounds(int rounds);

}  // namespace quorlink::testing::comport
