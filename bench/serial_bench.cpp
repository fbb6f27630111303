// The serial transport against plain loops on the same kind of pty, side by
// side in one run: throughput into OnRead, round-trip latency, and idle
// wake-ups. Run: build/default/bench/serial_bench [MiB] [rounds, at least 7]
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/meter/SyscallMeter.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/core/Application.h"
#include "tests/support/PtyPair.h"

using namespace quorlink;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kPort = 60;
constexpr int kRoundTrips = 2000;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

int OpenRawSlave(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// The device streams `total` bytes into the master.
std::thread Streamer(int master, std::size_t total) {
  return std::thread([master, total] {
    bench::LeftOut device;
    std::vector<std::uint8_t> block(65536, 0xA5);
    for (std::size_t sent = 0; sent < total;) {
      const ssize_t r = ::write(master, block.data(), std::min(block.size(), total - sent));
      if (r <= 0) return;
      sent += static_cast<std::size_t>(r);
    }
  });
}

// What a streaming run cost the reading side, per chunk and per MiB.
struct Cost {
  double calls = 0, switches = 0, cpuMsPerMiB = 0;
};
Cost PerChunk(const bench::Usage& u, double chunks, std::size_t total) {
  return {static_cast<double>(u.calls) / chunks, static_cast<double>(u.switches) / chunks,
          u.cpuSeconds * 1e3 / (static_cast<double>(total) / (1 << 20))};
}

double PlainReadThroughput(std::size_t total, Cost& cost) {
  testing::PtyPair pty;
  const int slave = OpenRawSlave(pty.SlavePath());
  std::vector<std::uint8_t> buf(65536);
  double reads = 0;
  const auto before = bench::Now();
  const auto t0 = Clock::now();
  auto writer = Streamer(pty.Master(), total);
  for (std::size_t got = 0; got < total;) {
    const ssize_t r = ::read(slave, buf.data(), buf.size());
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
    ++reads;
  }
  const double s = Seconds(Clock::now() - t0);
  writer.join();
  cost = PerChunk(bench::Now() - before, reads, total);
  ::close(slave);
  return total / s / (1 << 20);
}

double LibraryThroughput(std::size_t total, std::size_t& chunks, Cost& cost) {
  testing::PtyPair pty;
  testing::ScopedComBinding binding(kPort, pty.SlavePath());
  TQuorComPort port(nullptr);
  port.SetPort(kPort);
  std::size_t got = 0;
  chunks = 0;
  port.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    got += buf.size();
    ++chunks;
  };
  port.Connect();
  const auto before = bench::Now();
  const auto t0 = Clock::now();
  auto writer = Streamer(pty.Master(), total);
  while (got < total) platform::Messages().ProcessMessage(100);
  const double s = Seconds(Clock::now() - t0);
  writer.join();
  cost = PerChunk(bench::Now() - before, static_cast<double>(chunks), total);
  port.Close();
  return total / s / (1 << 20);
}

struct Percentiles {
  double p50, p99;
  double calls = 0;  // per round trip, the device's thread left out
};

// Runs the device's side of the round trips on a thread of its own, left
// out of the count, and counts what the echoing side called.
Percentiles CountedRoundTrips(int master, std::size_t size);

// The device side: writes `size` bytes and waits for them to come back.
Percentiles MeasureRoundTrips(int master, std::size_t size) {
  std::vector<std::uint8_t> out(size, 0x42), in(size);
  std::vector<double> us;
  for (int i = 0; i < kRoundTrips + 200; ++i) {
    const auto t0 = Clock::now();
    if (::write(master, out.data(), size) != static_cast<ssize_t>(size)) break;
    for (std::size_t got = 0; got < size;) {
      const ssize_t r = ::read(master, in.data() + got, size - got);
      if (r <= 0) return {-1, -1};
      got += static_cast<std::size_t>(r);
    }
    if (i >= 200) us.push_back(Seconds(Clock::now() - t0) * 1e6);  // after warm-up
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

Percentiles CountedRoundTrips(int master, std::size_t size) {
  Percentiles result{};
  const auto before = bench::Now();
  std::thread device([&] {
    bench::LeftOut left;
    result = MeasureRoundTrips(master, size);
  });
  device.join();
  result.calls = static_cast<double>((bench::Now() - before).calls) / (kRoundTrips + 200);
  return result;
}

Percentiles PollLoopRoundTrips(std::size_t size) {
  testing::PtyPair pty;
  const int slave = OpenRawSlave(pty.SlavePath());
  int stop[2];
  if (pipe(stop) != 0) return {-1, -1};
  std::thread echo([&] {
    std::vector<std::uint8_t> buf;
    pollfd fds[2] = {{slave, POLLIN, 0}, {stop[0], POLLIN, 0}};
    for (;;) {
      ::poll(fds, 2, -1);
      if (fds[1].revents != 0) return;
      int n = 0;
      ioctl(slave, FIONREAD, &n);
      if (n <= 0) continue;
      buf.resize(static_cast<std::size_t>(n));
      const ssize_t r = ::read(slave, buf.data(), buf.size());
      if (r > 0) [[maybe_unused]]
        auto w = ::write(slave, buf.data(), static_cast<std::size_t>(r));
    }
  });
  auto result = CountedRoundTrips(pty.Master(), size);
  [[maybe_unused]] auto w = ::write(stop[1], "x", 1);
  echo.join();
  ::close(slave);
  ::close(stop[0]);
  ::close(stop[1]);
  return result;
}

Percentiles LibraryRoundTrips(std::size_t size) {
  testing::PtyPair pty;
  testing::ScopedComBinding binding(kPort, pty.SlavePath());
  TQuorComPort port(nullptr);
  port.SetPort(kPort);
  port.OnRead = [](TQuorCustomConnection* c, const TQuorByteArray& buf) { c->Write(buf); };
  port.Connect();
  std::atomic<bool> done{false};
  Percentiles result{};
  const auto before = bench::Now();
  std::thread device([&] {
    bench::LeftOut left;
    result = MeasureRoundTrips(pty.Master(), size);
    done.store(true);
    platform::Messages().Wake();
  });
  while (!done.load()) platform::Messages().ProcessMessage(INFINITE);
  device.join();
  result.calls = static_cast<double>((bench::Now() - before).calls) / (kRoundTrips + 200);
  port.Close();
  return result;
}

long TaskSwitches(const std::string& tid) {
  std::ifstream f("/proc/self/task/" + tid + "/status");
  std::string line;
  long total = 0;
  while (std::getline(f, line))
    if (line.find("ctxt_switches:") != std::string::npos)
      total += std::atol(line.c_str() + line.find(':') + 1);
  return total;
}

// Context switches of every thread but the calling one.
long OtherThreadSwitches() {
  const std::string self = std::to_string(gettid());
  long total = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' && self != e->d_name) total += TaskSwitches(e->d_name);
    closedir(d);
  }
  return total;
}

long IdleWakeUps(int seconds) {
  testing::PtyPair pty;
  testing::ScopedComBinding binding(kPort, pty.SlavePath());
  TQuorComPort port(nullptr);
  port.SetPort(kPort);
  port.OnRead = [](TQuorCustomConnection*, const TQuorByteArray&) {};
  port.Connect();
  // One byte both ways first, so that every thread the port uses is running.
  pty.Write("x");
  for (int i = 0; i < 20; ++i) platform::Messages().ProcessMessage(10);
  port.GetConnections(0)->Write({'y'});
  pty.Read(1);
  for (int i = 0; i < 20; ++i) platform::Messages().ProcessMessage(10);

  const long before = OtherThreadSwitches();
  long messages = 0;
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    if (platform::Messages().ProcessMessage(static_cast<DWORD>(left))) ++messages;
  }
  const long after = OtherThreadSwitches();
  port.Close();
  return (after - before) + messages;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

// Each figure is the median of the runs, library and plain loop taking
// turns, and each ratio the median of the runs' own ratios, so that load from
// elsewhere on the machine hits both alike.
int main(int argc, char** argv) {
  const int kRuns = std::max(7, argc > 2 ? std::atoi(argv[2]) : 7);
  const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const std::size_t total = mib << 20;
  std::printf(
      "serial_bench: %zu MiB streamed, %d round trips per run, median of %d runs; a new "
      "pty pair per run\n\n",
      mib, kRoundTrips, kRuns);

  std::vector<double> plain, lib, chunkCounts, ratio, cpuRatio;
  std::vector<double> calls[2], switches[2], cpu[2];
  for (int run = 0; run < kRuns; ++run) {
    std::size_t chunks = 0;
    Cost c[2];
    plain.push_back(PlainReadThroughput(total, c[0]));
    lib.push_back(LibraryThroughput(total, chunks, c[1]));
    chunkCounts.push_back(static_cast<double>(chunks));
    ratio.push_back(lib.back() / plain.back());
    cpuRatio.push_back(c[1].cpuMsPerMiB / c[0].cpuMsPerMiB);
    for (int k = 0; k < 2; ++k) {
      calls[k].push_back(c[k].calls);
      switches[k].push_back(c[k].switches);
      cpu[k].push_back(c[k].cpuMsPerMiB);
    }
  }
  std::printf(
      "per chunk, the device's thread left out; calls counted by wrappers of the C\n"
      "library's system-call entry points (futex not among them)\n");
  for (int k = 0; k < 2; ++k)
    std::printf("%-9s calls/chunk %6.2f  switches/chunk %6.2f  CPU %7.2f ms/MiB\n",
                k == 0 ? "plain" : "library", Median(calls[k]), Median(switches[k]),
                Median(cpu[k]));
  std::printf("library/plain: throughput %.3f, CPU per MiB %.2f (target <= 1.8)\n\n", Median(ratio),
              Median(cpuRatio));
  const double p = Median(plain), l = Median(lib);
  std::printf("throughput  plain blocking read() loop   %8.1f MiB/s\n", p);
  std::printf(
      "throughput  library OnRead               %8.1f MiB/s  (%.1f%% of plain, %.0f chunks, "
      "target >= 85%%)\n\n",
      l, 100 * l / p, Median(chunkCounts));

  for (std::size_t size : {std::size_t{1}, std::size_t{64}}) {
    std::vector<double> p50[2], p99[2], calls[2], p50Ratio;
    for (int run = 0; run < kRuns; ++run) {
      const Percentiles both[2] = {PollLoopRoundTrips(size), LibraryRoundTrips(size)};
      for (int k = 0; k < 2; ++k) {
        p50[k].push_back(both[k].p50);
        p99[k].push_back(both[k].p99);
        calls[k].push_back(both[k].calls);
      }
      p50Ratio.push_back(both[1].p50 / both[0].p50);
    }
    std::printf(
        "round trip %2zu B  poll+FIONREAD+read loop  p50 %7.1f us  p99 %7.1f us  %5.2f calls\n",
        size, Median(p50[0]), Median(p99[0]), Median(calls[0]));
    std::printf(
        "round trip %2zu B  library echo in OnRead   p50 %7.1f us  p99 %7.1f us  %5.2f calls  "
        "(p50 %.2fx poll, target <= 1.3x)\n",
        size, Median(p50[1]), Median(p99[1]), Median(calls[1]), Median(p50Ratio));
  }
  const long wakeUps = IdleWakeUps(2);
  std::printf("\nidle        library wake-ups over 2 s    %ld  (target 0)\n", wakeUps);
  return 0;
}
