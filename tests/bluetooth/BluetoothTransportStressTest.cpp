// Two hundred links to one server transport, driven by blocking peers on
// worker threads, closed at random from either end: every byte sent arrives
// in order and every descriptor comes back.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "OsTestSupport.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "platform/Winsock.h"
#include "platform/virtual/VirtualRadio.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {
namespace {

namespace vradio = platform::vradio;

// Fewer links where each message costs far more (Wine); the same paths.
constexpr int kLinks = 200 / kStressScale;
constexpr int kWorkers = 8;

// The bytes link `id` sends from one side: a length and id header, then a
// pattern that differs by link, side and position.
std::string Payload(std::uint32_t id, bool fromServer, std::size_t length) {
  std::string p(8 + length, '\0');
  std::uint32_t header[2] = {id, static_cast<std::uint32_t>(length)};
  std::memcpy(p.data(), header, 8);
  for (std::size_t i = 0; i < length; ++i)
    p[8 + i] = static_cast<char>((id * 131 + i * 7 + (fromServer ? 101 : 0)) & 0xFF);
  return p;
}

struct Plan {
  std::size_t clientBytes;
  std::size_t serverBytes;
  bool serverCloses;
};

struct ServerSide {
  std::map<TQuorCustomConnection*, std::string> received;
  int disconnects = 0;
  int verified = 0;
  std::vector<std::string> problems;
};

TEST(BluetoothTransportThreaded, TwoHundredLinksWithRandomClosesFromBothEnds) {
  VirtualRadios radios;
  std::mt19937 rng(20261207);
  std::vector<Plan> plans;
  for (int i = 0; i < kLinks; ++i)
    plans.push_back({1 + rng() % 20000, 1 + rng() % 16000, (rng() & 1) != 0});

  // Winsock started here so the workers' descriptors are counted in both
  // snapshots alike.
  auto& ws = platform::Winsock();
  WSADATA data;
  ASSERT_EQ(ws.WSAStartup(0x0202, &data), 0);
  platform::Messages().ProcessMessage(0);  // the loop's own descriptors exist from here
  const int descriptorsBefore = ProcessHandleCount();

  auto* server = new TQuorBluetooth(nullptr);
  ServerSide side;
  server->OnConnect = [&](TQuorCustomConnection* c) { side.received[c]; };
  server->OnRead = [&](TQuorCustomConnection* c, const TQuorByteArray& buf) {
    std::string& got = side.received[c];
    got.append(buf.begin(), buf.end());
    if (got.size() < 8) return;
    std::uint32_t header[2];
    std::memcpy(header, got.data(), 8);
    const std::uint32_t id = header[0];
    if (id >= kLinks || got.size() > 8 + header[1]) {
      side.problems.push_back("too many bytes on a link");
      return;
    }
    if (got.size() < 8 + header[1]) return;
    if (got != Payload(id, false, plans[id].clientBytes)) side.problems.push_back("bytes differ");
    ++side.verified;
    const std::string reply = Payload(id, true, plans[id].serverBytes);
    c->Write(TQuorByteArray(reply.begin(), reply.end()));
    // The reply fits in the socket at once, so a close now loses nothing.
    if (plans[id].serverCloses) c->Close();
  };
  // A later connection may be made at a freed one's address.
  server->OnDisconnect = [&](TQuorCustomConnection* c) {
    ++side.disconnects;
    side.received.erase(c);
  };
  {
    vradio::ScopedDefaultRadio radio(kServerRadio);
    server->Listen();
  }
  const std::string channelText = server->GetLocalAddress();
  SOCKADDR_BTH target{};
  INT targetLength = sizeof target;
  std::string text = channelText;
  ASSERT_EQ(ws.WSAStringToAddressA(text.data(), AF_BTH, nullptr,
                                   reinterpret_cast<SOCKADDR*>(&target), &targetLength),
            0);

  vradio::SetDefaultRadio(kClientRadio);
  std::atomic<int> next{0};
  std::atomic<int> finished{0};
  std::mutex problemsMutex;
  std::vector<std::string> clientProblems;
  auto problem = [&](const std::string& p) {
    std::lock_guard lock(problemsMutex);
    clientProblems.push_back(p);
  };
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&] {
      for (int id; (id = next.fetch_add(1)) < kLinks; finished.fetch_add(1)) {
        const Plan& plan = plans[static_cast<std::size_t>(id)];
        SOCKET s = ws.socket(AF_BTH, win32::kSockStream, BTHPROTO_RFCOMM);
        SOCKADDR_BTH addr = target;
        if (s == INVALID_SOCKET ||
            ws.connect(s, reinterpret_cast<SOCKADDR*>(&addr), sizeof addr) != 0) {
          problem("connect failed");
          if (s != INVALID_SOCKET) ws.closesocket(s);
          continue;
        }
        const std::string out = Payload(static_cast<std::uint32_t>(id), false, plan.clientBytes);
        if (ws.send(s, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size()))
          problem("send failed");
        const std::string expected =
            Payload(static_cast<std::uint32_t>(id), true, plan.serverBytes);
        std::string in;
        char buf[4096];
        while (in.size() < expected.size()) {
          int n = ws.recv(s, buf, sizeof buf, 0);
          if (n <= 0) break;
          in.append(buf, static_cast<std::size_t>(n));
        }
        if (in != expected) problem("reply differs on link " + std::to_string(id));
        if (plan.serverCloses) {
          // The server's close reaches us as the end of the stream.
          int n = ws.recv(s, buf, sizeof buf, 0);
          if (n > 0) problem("bytes after the reply");
        }
        ws.closesocket(s);
      }
    });
  }
  const bool done =
      PumpUntil([&] { return finished.load() == kLinks && side.disconnects == kLinks; },
                std::chrono::seconds(90));
  for (auto& t : workers) t.join();
  EXPECT_TRUE(done) << "finished " << finished.load() << " disconnects " << side.disconnects;
  EXPECT_TRUE(clientProblems.empty()) << clientProblems.front();
  EXPECT_TRUE(side.problems.empty()) << side.problems.front();
  EXPECT_EQ(side.verified, kLinks);
  EXPECT_EQ(server->ConnectionCount(), 0);
  Free(server);
  vradio::SetDefaultRadio(0);
  platform::Messages().ProcessMessage(0);
  EXPECT_EQ(ProcessHandleCount(), descriptorsBefore);
  ws.WSACleanup();
}

}  // namespace
}  // namespace quorlink::testing
