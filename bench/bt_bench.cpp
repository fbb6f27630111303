// Bluetooth transport cost on the virtual radio: a 64 MiB stream delivered
// through OnRead and a one-byte echo, each beside a plain loop on a Unix
// socket pair (the same kind of kernel socket that carries a virtual link);
// then links accepted per second. Rounds alternate library and plain loop,
// and every figure is the median over rounds, so load from elsewhere on the
// machine hits both alike. Run: build/default/bench/bt_bench [rounds, at least 7]
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/meter/SyscallMeter.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/platform/Messages.h"
#include "platform/Winsock.h"
#include "platform/virtual/VirtualRadio.h"
#include "tests/support/VirtualRadios.h"

namespace {

using namespace quorlink;
using Clock = std::chrono::steady_clock;
namespace vradio = platform::vradio;

constexpr std::size_t kStream = 64u << 20;
constexpr std::size_t kChunk = 64u << 10;
constexpr int kRoundTrips = 2000;
constexpr int kLinks = 2000;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// One measured run of the main thread's side: time, what it cost, and how
// many blocks the reader took.
struct Run {
  double seconds = 0;
  bench::Usage usage;
  double blocks = 0;
  double p50us = 0;
};

// Blocking Winsock peer on the client radio, linked to the server's channel.
SOCKET ConnectPeer(const SOCKADDR_BTH& target) {
  auto& ws = platform::Winsock();
  SOCKET s = ws.socket(AF_BTH, quorlink::win32::SOCK_STREAM, BTHPROTO_RFCOMM);
  SOCKADDR_BTH addr = target;
  if (ws.connect(s, reinterpret_cast<SOCKADDR*>(&addr), sizeof addr) != 0) {
    ws.closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// Pumps until the server holds no link, so that runs do not overlap.
void Settle(TQuorBluetooth& server) {
  const auto start = Clock::now();
  while (server.ConnectionCount() > 0 && Seconds(start) < 30)
    platform::Messages().ProcessMessage(10);
}

Run TransportStream(TQuorBluetooth& server, const SOCKADDR_BTH& target) {
  std::atomic<std::size_t> received{0};
  double blocks = 0;
  server.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    received.store(received.load(std::memory_order_relaxed) + buf.size(),
                   std::memory_order_relaxed);
    ++blocks;
  };
  const auto before = bench::Now();
  const auto start = Clock::now();
  std::thread sender([&] {
    bench::LeftOut peer;
    SOCKET s = ConnectPeer(target);
    std::vector<char> chunk(kChunk, 'q');
    for (std::size_t sent = 0; sent < kStream; sent += kChunk)
      platform::Winsock().send(s, chunk.data(), static_cast<int>(kChunk), 0);
    // Closed once everything is taken, so no byte is lost to the close.
    while (received.load(std::memory_order_relaxed) < kStream)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    platform::Winsock().closesocket(s);
  });
  while (received.load(std::memory_order_relaxed) < kStream && Seconds(start) < 120)
    platform::Messages().ProcessMessage(10);
  const double seconds = Seconds(start);
  sender.join();
  const auto used = bench::Now() - before;
  server.OnRead = nullptr;
  Settle(server);
  return {seconds, used, blocks, 0};
}

Run PlainStream() {
  int pair[2];
  socketpair(AF_UNIX, ::SOCK_STREAM | SOCK_CLOEXEC, 0, pair);
  const auto before = bench::Now();
  const auto start = Clock::now();
  std::thread sender([&] {
    bench::LeftOut peer;
    std::vector<char> chunk(kChunk, 'q');
    for (std::size_t sent = 0; sent < kStream;) {
      ssize_t n = ::send(pair[0], chunk.data(), kChunk, 0);
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
  });
  char buffer[2048];
  std::size_t received = 0;
  double blocks = 0;
  while (received < kStream) {
    ssize_t n = ::recv(pair[1], buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
    ++blocks;
  }
  const double seconds = Seconds(start);
  sender.join();
  const auto used = bench::Now() - before;
  close(pair[0]);
  close(pair[1]);
  return {seconds, used, blocks, 0};
}

// The peer's side of an echo: one byte out, wait for it back; the median.
double PeerRoundTrips(auto&& sendOne, auto&& receiveOne) {
  std::vector<double> us;
  for (int i = 0; i < kRoundTrips + 100; ++i) {
    const auto t0 = Clock::now();
    if (!sendOne() || !receiveOne()) return -1;
    if (i >= 100) us.push_back(Seconds(t0) * 1e6);  // after warm-up
  }
  return Median(us);
}

Run TransportEcho(TQuorBluetooth& server, const SOCKADDR_BTH& target) {
  server.OnRead = [](TQuorCustomConnection* c, const TQuorByteArray& buf) { c->Write(buf); };
  std::atomic<bool> done{false};
  double p50 = 0;
  const auto before = bench::Now();
  const auto start = Clock::now();
  std::thread peer([&] {
    bench::LeftOut left;
    auto& ws = platform::Winsock();
    SOCKET s = ConnectPeer(target);
    char c = 'e';
    p50 = PeerRoundTrips([&] { return ws.send(s, &c, 1, 0) == 1; },
                         [&] { return ws.recv(s, &c, 1, 0) == 1; });
    ws.closesocket(s);
    done.store(true);
    platform::Messages().Wake();
  });
  while (!done.load() && Seconds(start) < 120) platform::Messages().ProcessMessage(INFINITE);
  const double seconds = Seconds(start);
  peer.join();
  const auto used = bench::Now() - before;
  server.OnRead = nullptr;
  Settle(server);
  return {seconds, used, kRoundTrips + 100, p50};
}

Run PlainEcho() {
  int pair[2];
  socketpair(AF_UNIX, ::SOCK_STREAM | SOCK_CLOEXEC, 0, pair);
  double p50 = 0;
  const auto before = bench::Now();
  const auto start = Clock::now();
  std::thread peer([&] {
    bench::LeftOut left;
    char c = 'e';
    p50 = PeerRoundTrips([&] { return ::send(pair[0], &c, 1, 0) == 1; },
                         [&] { return ::recv(pair[0], &c, 1, 0) == 1; });
    shutdown(pair[0], SHUT_WR);
  });
  char buffer[2048];
  for (;;) {
    ssize_t n = ::recv(pair[1], buffer, sizeof buffer, 0);
    if (n <= 0) break;
    ::send(pair[1], buffer, static_cast<std::size_t>(n), 0);
  }
  const double seconds = Seconds(start);
  peer.join();
  const auto used = bench::Now() - before;
  close(pair[0]);
  close(pair[1]);
  return {seconds, used, kRoundTrips + 100, p50};
}

double AcceptRate(TQuorBluetooth& server, const SOCKADDR_BTH& target) {
  int accepted = 0;
  server.OnConnect = [&](TQuorCustomConnection*) { ++accepted; };
  server.OnDisconnect = nullptr;
  const auto start = Clock::now();
  std::thread peers([&] {
    for (int i = 0; i < kLinks; ++i) {
      SOCKET s = ConnectPeer(target);
      if (s != INVALID_SOCKET) platform::Winsock().closesocket(s);
    }
  });
  while ((accepted < kLinks || server.ConnectionCount() > 0) && Seconds(start) < 120)
    platform::Messages().ProcessMessage(10);
  const double seconds = Seconds(start);
  peers.join();
  return accepted / seconds;
}

// Opens kLinks links and times the server's Close, which ends them all.
double CloseWithLinks(TQuorBluetooth& server, const SOCKADDR_BTH& target, int& disconnects) {
  disconnects = 0;
  int accepted = 0;
  server.OnConnect = [&](TQuorCustomConnection*) { ++accepted; };
  server.OnDisconnect = [&](TQuorCustomConnection*) { ++disconnects; };
  std::vector<SOCKET> peers;
  std::thread opener([&] {
    for (int i = 0; i < kLinks; ++i) peers.push_back(ConnectPeer(target));
  });
  const auto start = Clock::now();
  while (accepted < kLinks && Seconds(start) < 120) platform::Messages().ProcessMessage(10);
  opener.join();
  const auto t0 = Clock::now();
  server.Close();
  const double seconds = Seconds(t0);
  for (SOCKET s : peers) platform::Winsock().closesocket(s);
  server.OnDisconnect = nullptr;
  return seconds;
}

struct Side {
  std::vector<double> mibps, mainCalls, calls, switches, cpuMsPerMiB, p50;
  void Add(const Run& r, double mib) {
    mibps.push_back(mib / r.seconds);
    mainCalls.push_back(static_cast<double>(r.usage.mainCalls) / r.blocks);
    calls.push_back(static_cast<double>(r.usage.calls) / r.blocks);
    switches.push_back(static_cast<double>(r.usage.switches) / r.blocks);
    cpuMsPerMiB.push_back(r.usage.cpuSeconds * 1e3 / mib);
    p50.push_back(r.p50us);
  }
};

void PrintRow(const char* name, const Side& s, bool stream) {
  if (stream)
    std::printf("  %-26s %8.1f MiB/s  %6.2f  %6.2f  %7.3f  %8.2f\n", name, Median(s.mibps),
                Median(s.mainCalls), Median(s.calls), Median(s.switches), Median(s.cpuMsPerMiB));
  else
    std::printf("  %-26s p50 %6.1f us  %6.2f  %6.2f  %7.3f\n", name, Median(s.p50),
                Median(s.mainCalls), Median(s.calls), Median(s.switches));
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = std::max(7, argc > 1 ? std::atoi(argv[1]) : 7);
  testing::VirtualRadios radios;
  WSADATA data;
  platform::Winsock().WSAStartup(0x0202, &data);
  auto* server = new TQuorBluetooth(nullptr);
  auto listen = [&] {
    vradio::ScopedDefaultRadio radio(testing::kServerRadio);
    server->Listen();
  };
  listen();
  std::string text = server->GetLocalAddress();
  SOCKADDR_BTH target{};
  INT length = sizeof target;
  platform::Winsock().WSAStringToAddressA(text.data(), AF_BTH, nullptr,
                                          reinterpret_cast<SOCKADDR*>(&target), &length);
  vradio::SetDefaultRadio(testing::kClientRadio);

  const double mib = static_cast<double>(kStream) / (1u << 20);
  Side lib, plain, libEcho, plainEcho;
  std::vector<double> ratio, echoRatio;
  for (int round = 0; round < rounds; ++round) {
    const Run l = TransportStream(*server, target);
    const Run p = PlainStream();
    lib.Add(l, mib);
    plain.Add(p, mib);
    ratio.push_back(p.seconds / l.seconds);
    const Run le = TransportEcho(*server, target);
    const Run pe = PlainEcho();
    libEcho.Add(le, 0);
    plainEcho.Add(pe, 0);
    echoRatio.push_back(le.p50us / pe.p50us);
  }
  std::printf("bt_bench: median of %d paired rounds; calls counted by the benchmark's own\n",
              rounds);
  std::printf("wrappers of the C library's system-call entry points (not futex), switches and\n");
  std::printf("CPU from getrusage/clock_gettime, the peer's thread left out.\n\n");
  std::printf("64 MiB stream, 2048-byte reads    throughput  calls/block   switches  CPU ms\n");
  std::printf("                                               main    all  /block    /MiB\n");
  PrintRow("through OnRead, virtual link", lib, true);
  std::printf("  %-26s  ratio %.3f of plain (target >= 0.6, <= 1.5 main calls/block)\n", "",
              Median(ratio));
  PrintRow("plain recv loop, socketpair", plain, true);
  std::printf("\n1-byte echo, %d round trips      latency      calls/trip   switches\n",
              kRoundTrips);
  std::printf("                                               main    all   /trip\n");
  PrintRow("echo in OnRead, virtual link", libEcho, false);
  std::printf("  %-26s  ratio %.2f of plain p50 (target <= 1.3)\n", "", Median(echoRatio));
  PrintRow("plain recv+send loop", plainEcho, false);

  std::printf(
      "\nlinks accepted per second (%d links, connect and close from a peer thread): %.0f\n",
      kLinks, AcceptRate(*server, target));
  int disconnects = 0;
  const double closeSeconds = CloseWithLinks(*server, target, disconnects);
  std::printf("Close with %d links open: %.1f ms, %d OnDisconnect\n", kLinks, closeSeconds * 1e3,
              disconnects);
  Free(server);
  platform::Winsock().WSACleanup();
  return 0;
}
