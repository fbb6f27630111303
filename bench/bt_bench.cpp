// Bluetooth transport throughput on the virtual radio: a 64 MiB stream
// delivered through OnRead, beside a plain recv loop on a Unix socket pair
// (the same kind of kernel socket that carries a virtual link), and links
// accepted per second.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bluetooth/QuorBluetooth.h"
#include "platform/Messages.h"
#include "platform/Winsock.h"
#include "platform/posix/VirtualRadio.h"
#include "tests/support/VirtualRadios.h"

namespace {

using namespace quorlink;
using Clock = std::chrono::steady_clock;
namespace vradio = platform::posix::vradio;

constexpr std::size_t kStream = 64u << 20;
constexpr std::size_t kChunk = 64u << 10;
constexpr int kLinks = 2000;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

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

double TransportStream(TQuorBluetooth& server, const SOCKADDR_BTH& target) {
  std::size_t received = 0;
  server.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    received += buf.size();
  };
  const auto start = Clock::now();
  std::thread sender([&] {
    SOCKET s = ConnectPeer(target);
    std::vector<char> chunk(kChunk, 'q');
    for (std::size_t sent = 0; sent < kStream; sent += kChunk)
      platform::Winsock().send(s, chunk.data(), static_cast<int>(kChunk), 0);
    // Closed once everything is taken, so no byte is lost to the close.
    while (received < kStream) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    platform::Winsock().closesocket(s);
  });
  while (received < kStream && Seconds(start) < 120) platform::Messages().ProcessMessage(10);
  const double seconds = Seconds(start);
  sender.join();
  server.OnRead = nullptr;
  return seconds;
}

double PlainStream() {
  int pair[2];
  socketpair(AF_UNIX, ::SOCK_STREAM | SOCK_CLOEXEC, 0, pair);
  const auto start = Clock::now();
  std::thread sender([&] {
    std::vector<char> chunk(kChunk, 'q');
    for (std::size_t sent = 0; sent < kStream;) {
      ssize_t n = ::send(pair[0], chunk.data(), kChunk, 0);
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
  });
  char buffer[2048];
  std::size_t received = 0;
  while (received < kStream) {
    ssize_t n = ::recv(pair[1], buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
  }
  const double seconds = Seconds(start);
  sender.join();
  close(pair[0]);
  close(pair[1]);
  return seconds;
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

}  // namespace

int main() {
  testing::VirtualRadios radios;
  WSADATA data;
  platform::Winsock().WSAStartup(0x0202, &data);
  auto* server = new TQuorBluetooth(nullptr);
  {
    vradio::ScopedDefaultRadio radio(testing::kServerRadio);
    server->Listen();
  }
  std::string text = server->GetLocalAddress();
  SOCKADDR_BTH target{};
  INT length = sizeof target;
  platform::Winsock().WSAStringToAddressA(text.data(), AF_BTH, nullptr,
                                          reinterpret_cast<SOCKADDR*>(&target), &length);
  vradio::SetDefaultRadio(testing::kClientRadio);

  const double mib = static_cast<double>(kStream) / (1u << 20);
  const double transport = TransportStream(*server, target);
  const double plain = PlainStream();
  std::printf("64 MiB stream, 2048-byte reads:\n");
  std::printf("  through OnRead over a virtual link   %8.1f MiB/s (%.3f s)\n", mib / transport,
              transport);
  std::printf("  plain recv loop on a Unix socketpair %8.1f MiB/s (%.3f s)\n", mib / plain, plain);
  std::printf("links accepted per second (%d links, connect and close from a peer thread): %.0f\n",
              kLinks, AcceptRate(*server, target));
  Free(server);
  platform::Winsock().WSACleanup();
  return 0;
}
