#include "SyscallMeter.h"

#include <sys/resource.h>
#include <time.h>

#include <atomic>

namespace bench {
namespace {

std::atomic<std::uint64_t> counted{0};
std::atomic<long> leftOutCpuNs{0};
std::atomic<long> leftOutSwitches{0};
thread_local bool leftOut = false;
thread_local std::uint64_t ownCalls = 0;

double Cpu(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

long Switches(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_nvcsw + u.ru_nivcsw;
}

}  // namespace

void Count() {
  ++ownCalls;
  if (!leftOut) counted.fetch_add(1, std::memory_order_relaxed);
}

LeftOut::LeftOut() : cpu_(Cpu(CLOCK_THREAD_CPUTIME_ID)), switches_(Switches(RUSAGE_THREAD)) {
  leftOut = true;
}

LeftOut::~LeftOut() {
  leftOutCpuNs.fetch_add(static_cast<long>((Cpu(CLOCK_THREAD_CPUTIME_ID) - cpu_) * 1e9));
  leftOutSwitches.fetch_add(Switches(RUSAGE_THREAD) - switches_);
  leftOut = false;
}

Usage Now() {
  Usage u;
  u.calls = counted.load();
  u.mainCalls = ownCalls;
  u.cpuSeconds = Cpu(CLOCK_PROCESS_CPUTIME_ID) - static_cast<double>(leftOutCpuNs.load()) * 1e-9;
  u.switches = Switches(RUSAGE_SELF) - leftOutSwitches.load();
  return u;
}

}  // namespace bench
