// The POSIX Winsock backend over the virtual radio, below the transport:
// Winsock's notification rules and the provider's rendezvous.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "quorlink/core/Application.h"
#include "platform/BluetoothApi.h"
#include "platform/Winsock.h"
#include "platform/posix/MainLoop.h"
#include "platform/posix/PosixWinsockSocket.h"
#include "platform/virtual/VirtualRadio.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {
namespace {

namespace vradio = platform::vradio;

struct Notice {
  SOCKET socket;
  WORD event;
  WORD error;
};

class WinsockVirtualTransport : public ::testing::Test {
 protected:
  WinsockVirtualTransport() {
    WSADATA data;
    EXPECT_EQ(ws.WSAStartup(0x0202, &data), 0);
    window = AllocateHWnd([this](TMessage& m) {
      notices.push_back({static_cast<SOCKET>(m.WParam), static_cast<WORD>(m.LParam & 0xFFFF),
                         static_cast<WORD>((m.LParam >> 16) & 0xFFFF)});
    });
  }
  ~WinsockVirtualTransport() override {
    for (SOCKET s : open) ws.closesocket(s);
    DeallocateHWnd(window);
    ws.WSACleanup();
  }

  SOCKET Open() {
    SOCKET s = ws.socket(AF_BTH, win32::SOCK_STREAM, BTHPROTO_RFCOMM);
    EXPECT_NE(s, INVALID_SOCKET);
    open.push_back(s);
    return s;
  }
  static SOCKADDR_BTH Addr(BTH_ADDR radio, ULONG port, GUID cls = {}) {
    SOCKADDR_BTH a{};
    a.addressFamily = AF_BTH;
    a.btAddr = radio;
    a.port = port;
    a.serviceClassId = cls;
    return a;
  }
  static SOCKADDR* Sa(SOCKADDR_BTH& a) { return reinterpret_cast<SOCKADDR*>(&a); }

  // A listening socket on the server radio; returns its channel.
  ULONG ListenOn(SOCKET s) {
    auto a = Addr(kServerRadio, BT_PORT_ANY);
    EXPECT_EQ(ws.bind(s, Sa(a), sizeof a), 0);
    int len = sizeof a;
    EXPECT_EQ(ws.getsockname(s, Sa(a), &len), 0);
    EXPECT_EQ(ws.listen(s, 10), 0);
    return a.port;
  }
  // A blocking client linked to the channel, and the accepted socket.
  std::pair<SOCKET, SOCKET> Linked(SOCKET listener, ULONG channel) {
    vradio::ScopedDefaultRadio radio(kClientRadio);
    SOCKET c = Open();
    auto a = Addr(kServerRadio, channel);
    EXPECT_EQ(ws.connect(c, Sa(a), sizeof a), 0);
    SOCKET s = ws.accept(listener, nullptr, nullptr);
    EXPECT_NE(s, INVALID_SOCKET);
    open.push_back(s);
    return {c, s};
  }
  int Count(WORD event) const {
    int n = 0;
    for (auto& x : notices) n += x.event == event;
    return n;
  }

  VirtualRadios radios;
  platform::IWinsock& ws = platform::Winsock();
  HWND window = nullptr;
  std::vector<Notice> notices;
  std::vector<SOCKET> open;
};

TEST_F(WinsockVirtualTransport, ReadIsPostedAgainAfterEachRecvWhileDataRemains) {
  SOCKET l = Open();
  auto [c, s] = Linked(l, ListenOn(l));
  ASSERT_EQ(ws.WSAAsyncSelect(s, window, 0x501, FD_READ | FD_CLOSE), 0);
  std::string data(5000, 'x');
  ASSERT_EQ(ws.send(c, data.data(), 5000, 0), 5000);
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(Count(FD_READ), 1);  // nothing more until recv
  char buf[2048];
  int total = 0;
  while (total < 5000) {
    ASSERT_TRUE(PumpUntil([&] { return Count(FD_READ) > 0; }));
    notices.clear();
    int n = ws.recv(s, buf, sizeof buf, 0);
    ASSERT_GT(n, 0);
    total += n;
  }
  PumpFor(std::chrono::milliseconds(30));
  EXPECT_EQ(Count(FD_READ), 0);
  // Would block now, with no notification.
  EXPECT_EQ(ws.recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
}

// The tag under which the kernel holds a descriptor in the main loop's epoll
// set ("tfd: N events: E data: D" in fdinfo); none when it is not in the set.
std::optional<unsigned long long> Registration(SOCKET s) {
  const int fd = platform::posix::FindSocket(s)->fd;
  std::ifstream info("/proc/self/fdinfo/" +
                     std::to_string(platform::posix::PosixMainLoop().Descriptor()));
  std::string line;
  while (std::getline(info, line)) {
    int tfd = -1;
    unsigned events = 0;
    unsigned long long data = 0;
    if (std::sscanf(line.c_str(), "tfd: %d events: %x data: %llx", &tfd, &events, &data) == 3 &&
        tfd == fd)
      return data;
  }
  return std::nullopt;
}

// A notification is re-enabled by re-arming the socket's one registration,
// not by taking it out of the set and adding it again.
TEST_F(WinsockVirtualTransport, ReadNotificationsKeepTheSocketsOneRegistration) {
  SOCKET l = Open();
  auto [c, s] = Linked(l, ListenOn(l));
  ASSERT_EQ(ws.WSAAsyncSelect(s, window, 0x501, FD_READ | FD_CLOSE), 0);
  const auto first = Registration(s);
  ASSERT_TRUE(first.has_value());
  std::string data(7000, 'x');
  ASSERT_EQ(ws.send(c, data.data(), 7000, 0), 7000);
  char buf[2048];
  for (int total = 0; total < 7000;) {
    ASSERT_TRUE(PumpUntil([&] { return Count(FD_READ) > 0; }));
    notices.clear();
    EXPECT_EQ(Registration(s), first);
    const int n = ws.recv(s, buf, sizeof buf, 0);
    ASSERT_GT(n, 0);
    total += n;
    EXPECT_EQ(Registration(s), first);
  }
  ws.closesocket(c);
  open.erase(open.begin() + 1);
  ASSERT_TRUE(PumpUntil([&] { return Count(FD_CLOSE) == 1; }));
  EXPECT_EQ(Registration(s), first);
}

TEST_F(WinsockVirtualTransport, CloseComesOnceAndOnlyAfterTheDataBeforeIt) {
  SOCKET l = Open();
  auto [c, s] = Linked(l, ListenOn(l));
  ASSERT_EQ(ws.WSAAsyncSelect(s, window, 0x501, FD_READ | FD_CLOSE), 0);
  ASSERT_EQ(ws.send(c, "abc", 3, 0), 3);
  ws.closesocket(c);
  open.erase(open.begin() + 1);
  PumpFor(std::chrono::milliseconds(50));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].event, FD_READ);
  char buf[16];
  EXPECT_EQ(ws.recv(s, buf, sizeof buf, 0), 3);
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(Count(FD_CLOSE), 1);
  EXPECT_EQ(ws.recv(s, buf, sizeof buf, 0), 0);
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(Count(FD_CLOSE), 1);
}

// Handles what is queued now; false when the loop keeps finding work (a
// notification that posts itself again with nothing to read).
bool GoesQuiet() {
  for (int i = 0; i < 100; ++i)
    if (!platform::Messages().ProcessMessage(0)) return true;
  return false;
}

// A recv that fills its buffer posts the next FD_READ without asking the
// system. Whatever the block boundaries: every byte once and in order, another
// socket still gets its turn while the stream flows, FD_CLOSE once and after
// the data, and a drained stream leaves the loop idle.
TEST_F(WinsockVirtualTransport, FullReadsChainKeepingOrderTurnsAndTheClose) {
  SOCKET l = Open();
  const ULONG channel = ListenOn(l);
  auto [c1, s1] = Linked(l, channel);
  auto [c2, s2] = Linked(l, channel);
  std::string sent, got;
  for (int i = 0; i < 40 * 2048 + 1000; ++i) sent.push_back(static_cast<char>(i * 131 % 251));
  std::vector<std::string> log;
  std::size_t gotWhenOther = 0, gotWhenClosed = 0;
  HWND reader = AllocateHWnd([&](TMessage& m) {
    const auto s = static_cast<SOCKET>(m.WParam);
    const auto event = static_cast<WORD>(m.LParam & 0xFFFF);
    char buf[2048];
    if (s == s1 && event == FD_READ) {
      const int n = ws.recv(s1, buf, sizeof buf, 0);
      log.push_back(n > 0 ? "read" : "nothing");
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      if (got.size() == 2048 && n > 0) {
        ASSERT_EQ(ws.send(c2, "!", 1, 0), 1);
      }
    } else if (s == s2 && event == FD_READ) {
      if (ws.recv(s2, buf, sizeof buf, 0) == 1) gotWhenOther = got.size();
    } else if (s == s1 && event == FD_CLOSE) {
      log.push_back("close");
      gotWhenClosed = got.size();
    } else {
      log.push_back("other event");
    }
  });
  ASSERT_EQ(ws.WSAAsyncSelect(s1, reader, 0x501, FD_READ | FD_CLOSE), 0);
  ASSERT_EQ(ws.WSAAsyncSelect(s2, reader, 0x501, FD_READ | FD_CLOSE), 0);

  // Full blocks only: the last full read finds nothing behind it.
  ASSERT_EQ(ws.send(c1, sent.data(), 16 * 2048, 0), 16 * 2048);
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 16 * 2048; }));
  EXPECT_TRUE(GoesQuiet());
  EXPECT_GT(gotWhenOther, 0u);
  EXPECT_LT(gotWhenOther, 16u * 2048) << "the other socket waited for the stream to drain";

  // The rest, and the peer's close right behind it.
  const int rest = static_cast<int>(sent.size()) - 16 * 2048;
  ASSERT_EQ(ws.send(c1, sent.data() + 16 * 2048, rest, 0), rest);
  ws.closesocket(c1);
  open.erase(std::find(open.begin(), open.end(), c1));
  ASSERT_TRUE(PumpUntil([&] { return gotWhenClosed > 0; }));
  EXPECT_TRUE(GoesQuiet());
  EXPECT_EQ(got, sent);
  EXPECT_EQ(gotWhenClosed, sent.size());
  EXPECT_EQ(std::count(log.begin(), log.end(), "close"), 1);
  EXPECT_EQ(log.back(), "close");
  EXPECT_LE(std::count(log.begin(), log.end(), "nothing"), 1) << "reads that found nothing";
  EXPECT_EQ(std::count(log.begin(), log.end(), "other event"), 0);
  DeallocateHWnd(reader);
}

TEST_F(WinsockVirtualTransport, AcceptIsPostedAgainWhileLinksWait) {
  SOCKET l = Open();
  ULONG channel = ListenOn(l);
  ASSERT_EQ(ws.WSAAsyncSelect(l, window, 0x501, FD_ACCEPT), 0);
  vradio::ScopedDefaultRadio radio(kClientRadio);
  for (int i = 0; i < 3; ++i) {
    SOCKET c = Open();
    auto a = Addr(kServerRadio, channel);
    ASSERT_EQ(ws.connect(c, Sa(a), sizeof a), 0);
  }
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(Count(FD_ACCEPT), 1);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(PumpUntil([&] { return Count(FD_ACCEPT) > 0; }));
    notices.clear();
    SOCKADDR_BTH peer{};
    int len = sizeof peer;
    SOCKET s = ws.accept(l, Sa(peer), &len);
    ASSERT_NE(s, INVALID_SOCKET);
    open.push_back(s);
    EXPECT_EQ(+peer.btAddr, kClientRadio);
  }
  PumpFor(std::chrono::milliseconds(30));
  EXPECT_EQ(Count(FD_ACCEPT), 0);
}

TEST_F(WinsockVirtualTransport, ConnectIsPostedOnceWithTheErrorInTheHighWord) {
  vradio::ScopedDefaultRadio radio(kClientRadio);
  SOCKET ok = Open();
  SOCKET bad = Open();
  SOCKET l = Open();
  const GUID cls{0x1101, 0, 0x1000, {0x80, 0, 0, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
  ULONG channel = ListenOn(l);
  vradio::PublishService({kServerRadio, channel, cls, "x", "y"});
  ASSERT_EQ(ws.WSAAsyncSelect(ok, window, 0x501, FD_CONNECT), 0);
  ASSERT_EQ(ws.WSAAsyncSelect(bad, window, 0x501, FD_CONNECT), 0);
  auto good = Addr(kServerRadio, 0, cls);
  auto none = Addr(kServerRadio, 0, GUID{0x1234, 0, 0, {}});
  EXPECT_EQ(ws.connect(ok, Sa(good), sizeof good), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEWOULDBLOCK);
  ws.connect(bad, Sa(none), sizeof none);
  PumpFor(std::chrono::milliseconds(50));
  ASSERT_EQ(notices.size(), 2u);
  for (auto& n : notices) {
    EXPECT_EQ(n.event, FD_CONNECT);
    EXPECT_EQ(n.error, n.socket == ok ? 0 : WSASERVICE_NOT_FOUND);
  }
  SOCKADDR_BTH peer{};
  int len = sizeof peer;
  ASSERT_EQ(ws.getpeername(ok, Sa(peer), &len), 0);
  EXPECT_EQ(+peer.btAddr, kServerRadio);
  EXPECT_EQ(+peer.port, channel);
  EXPECT_EQ(ws.getpeername(bad, Sa(peer), &len), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAENOTCONN);
}

TEST_F(WinsockVirtualTransport, ConnectToAFullQueueCompletesOnceThereIsRoom) {
  SOCKET l = Open();
  auto a = Addr(kServerRadio, BT_PORT_ANY);
  ASSERT_EQ(ws.bind(l, Sa(a), sizeof a), 0);
  int len = sizeof a;
  ASSERT_EQ(ws.getsockname(l, Sa(a), &len), 0);
  ASSERT_EQ(ws.listen(l, 1), 0);
  // No notifications, but non-blocking, so accept never waits.
  ASSERT_EQ(ws.WSAAsyncSelect(l, window, 0x501, 0), 0);
  vradio::ScopedDefaultRadio radio(kClientRadio);
  // Fill the listener's queue with non-blocking connects until one waits.
  SOCKET waiting = INVALID_SOCKET;
  for (int i = 0; i < 8 && waiting == INVALID_SOCKET; ++i) {
    SOCKET c = Open();
    ASSERT_EQ(ws.WSAAsyncSelect(c, window, 0x501, FD_CONNECT), 0);
    ws.connect(c, Sa(a), sizeof a);
    PumpFor(std::chrono::milliseconds(20));
    if (Count(FD_CONNECT) == 0) waiting = c;
    notices.clear();
  }
  ASSERT_NE(waiting, INVALID_SOCKET) << "the queue never filled";
  // Taking the queued links makes room; the waiting connect then completes.
  for (int i = 0; i < 8; ++i) {
    SOCKET s = ws.accept(l, nullptr, nullptr);
    if (s != INVALID_SOCKET) open.push_back(s);
    PumpFor(std::chrono::milliseconds(20));
    if (Count(FD_CONNECT) > 0) break;
  }
  ASSERT_EQ(Count(FD_CONNECT), 1);
  EXPECT_EQ(notices[0].socket, waiting);
  EXPECT_EQ(notices[0].error, 0);
}

TEST_F(WinsockVirtualTransport, CallsNeedWinsockStartedAndTheProviderChosen) {
  ws.WSACleanup();
  EXPECT_EQ(ws.socket(AF_BTH, win32::SOCK_STREAM, BTHPROTO_RFCOMM), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
  WSADATA data;
  ws.WSAStartup(0x0202, &data);
  vradio::Enable(false);
  EXPECT_EQ(ws.socket(AF_BTH, win32::SOCK_STREAM, BTHPROTO_RFCOMM), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEAFNOSUPPORT);
  vradio::Enable(true);
  EXPECT_EQ(ws.socket(AF_BTH, win32::SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEPROTONOSUPPORT);
}

TEST_F(WinsockVirtualTransport, ChannelsAreAllocatedAndRefusedWhenTaken) {
  SOCKET a = Open();
  SOCKET b = Open();
  SOCKET c = Open();
  ULONG first = ListenOn(a);
  ULONG second = ListenOn(b);
  EXPECT_NE(first, second);
  auto taken = Addr(kServerRadio, first);
  EXPECT_EQ(ws.bind(c, Sa(taken), sizeof taken), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEADDRINUSE);
  auto foreign = Addr(0x999, BT_PORT_ANY);
  EXPECT_EQ(ws.bind(c, Sa(foreign), sizeof foreign), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEADDRNOTAVAIL);
  // A closed channel is free again.
  ws.closesocket(a);
  open.erase(open.begin());
  EXPECT_EQ(ws.bind(c, Sa(taken), sizeof taken), 0);
}

TEST(VirtualRadioProvider, RendezvousMustBePrivateAndAddressesUnique) {
  char pattern[] = "/tmp/quorlink-open-XXXXXX";
  std::string dir = mkdtemp(pattern);
  chmod(dir.c_str(), 0755);
  vradio::SetRendezvousDirectory(dir);
  EXPECT_THROW(vradio::RendezvousDirectory(), std::system_error);
  chmod(dir.c_str(), 0700);
  vradio::SetRendezvousDirectory(dir);
  {
    vradio::Radio one(0x42, "one");
    try {
      vradio::Radio two(0x42, "two");
      ADD_FAILURE() << "a second radio took the address";
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code().value(), EADDRINUSE);
    }
    auto known = vradio::KnownRadios();
    ASSERT_EQ(known.size(), 1u);
    EXPECT_EQ(known[0].name, "one");
  }
  EXPECT_TRUE(vradio::KnownRadios().empty());
  VirtualRadios::RemoveDirectory(dir);
  vradio::SetRendezvousDirectory("");
}

TEST(VirtualRadioProvider, DefaultPickerCancelsWithoutATerminal) {
  if (isatty(STDIN_FILENO)) GTEST_SKIP() << "standard input is a terminal";
  EXPECT_EQ(platform::TerminalDevicePicker({{0x42, "a device"}}), -1);
}

}  // namespace
}  // namespace quorlink::testing
