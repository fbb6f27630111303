// What a benchmark run costs the process, counted from inside it: system
// calls (through wrappers of the libc calls that the library and the plain
// loops make), context switches and CPU time. Threads that play the device
// or the peer mark themselves and are left out.
#pragma once

#include <cstdint>

namespace bench {

struct Usage {
  std::uint64_t calls = 0;      // counted calls of every thread not left out
  std::uint64_t mainCalls = 0;  // of the thread that took the sample
  double cpuSeconds = 0;        // user + system, threads left out subtracted
  long switches = 0;            // voluntary + involuntary, likewise

  Usage operator-(const Usage& o) const {
    return {calls - o.calls, mainCalls - o.mainCalls, cpuSeconds - o.cpuSeconds,
            switches - o.switches};
  }
};

// Leaves the calling thread out of every Usage from construction to
// destruction; its CPU time and switches are subtracted when it ends, so a
// sample that must leave it out is taken after it has ended (joined).
class LeftOut {
 public:
  LeftOut();
  ~LeftOut();
  LeftOut(const LeftOut&) = delete;
  LeftOut& operator=(const LeftOut&) = delete;

 private:
  double cpu_;
  long switches_;
};

Usage Now();

}  // namespace bench
