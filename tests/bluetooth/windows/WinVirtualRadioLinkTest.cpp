// The virtual radio's loopback links on Windows as a stranger on the same
// machine meets them: a connection to a listening channel's port without the
// channel's token, and a port given up by a closed channel and taken by
// someone else.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Winsock.h"
#include "platform/windows/WinVirtualRadioLinks.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {
namespace {

namespace vradio = platform::vradio;

class WinVirtualRadioLink : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(winsock.WSAStartup(0x0202, &data), 0);
  }
  void TearDown() override { winsock.WSACleanup(); }

  // A channel of the server radio that listens; its loopback port.
  SOCKET Listener(unsigned& port) {
    SOCKET s = winsock.socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
    SOCKADDR_BTH at{};
    at.addressFamily = AF_BTH;
    at.btAddr = kServerRadio;
    EXPECT_EQ(winsock.bind(s, reinterpret_cast<SOCKADDR*>(&at), sizeof at), 0);
    EXPECT_EQ(winsock.listen(s, 4), 0);
    int length = sizeof at;
    EXPECT_EQ(winsock.getsockname(s, reinterpret_cast<SOCKADDR*>(&at), &length), 0);
    channel = at.port;
    std::string token;
    EXPECT_TRUE(vradio::ReadChannelEntry(kServerRadio, channel, port, token));
    return s;
  }

  // A plain loopback TCP connection to the port, as any local program can open.
  static SOCKET Stranger(unsigned port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    return s;
  }

  int Connect(SOCKET s) {
    SOCKADDR_BTH to{};
    to.addressFamily = AF_BTH;
    to.btAddr = kServerRadio;
    to.port = channel;
    vradio::ScopedDefaultRadio radio(kClientRadio);
    return winsock.connect(s, reinterpret_cast<SOCKADDR*>(&to), sizeof to) == 0
               ? 0
               : winsock.WSAGetLastError();
  }

  VirtualRadios radios;
  platform::IWinsock& winsock = platform::OsWinsock();
  ULONG channel = 0;
};

// Strangers who send nothing useful, a wrong token or a hello with a forged
// radio but no token are dropped; the radio's own link behind them is
// accepted and named by its radio.
TEST_F(WinVirtualRadioLink, StrangersOnLoopbackAreNeverAccepted) {
  unsigned port = 0;
  SOCKET listener = Listener(port);
  ASSERT_NE(port, 0u);
  SOCKET junk = Stranger(port);
  ASSERT_EQ(::send(junk, "GET / HTTP/1.0\r\n\r\n...........", 28, 0), 28);
  SOCKET forger = Stranger(port);
  const std::string forged = vradio::Hello(std::string(16, '\0'), kClientRadio);
  ASSERT_EQ(::send(forger, forged.data(), static_cast<int>(forged.size()), 0), 28);
  SOCKET closer = Stranger(port);
  ::closesocket(closer);

  SOCKET client = winsock.socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
  ASSERT_EQ(Connect(client), 0);
  ASSERT_EQ(winsock.send(client, "ping", 4, 0), 4);

  SOCKADDR_BTH peer{};
  int length = sizeof peer;
  SOCKET link = winsock.accept(listener, reinterpret_cast<SOCKADDR*>(&peer), &length);
  ASSERT_NE(link, INVALID_SOCKET);
  EXPECT_EQ(peer.btAddr, kClientRadio);
  EXPECT_EQ(peer.port, channel);
  char got[8] = {};
  ASSERT_EQ(winsock.recv(link, got, sizeof got, 0), 4);
  EXPECT_EQ(std::string(got, 4), "ping");
  // The strangers' connections were closed, not left waiting.
  for (SOCKET s : {junk, forger}) {
    char byte;
    EXPECT_LE(::recv(s, &byte, 1, 0), 0);
    ::closesocket(s);
  }
  winsock.closesocket(link);
  winsock.closesocket(client);
  winsock.closesocket(listener);
}

// Once a channel is closed its entry no longer counts: a connect is refused
// even when another program now listens on the port the channel had.
TEST_F(WinVirtualRadioLink, APortGivenUpIsNeverUsedAgain) {
  unsigned port = 0;
  SOCKET listener = Listener(port);
  ASSERT_EQ(winsock.closesocket(listener), 0);

  SOCKET squatter = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<u_short>(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(squatter, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(squatter, 4), 0);

  SOCKET client = winsock.socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
  EXPECT_EQ(Connect(client), WSAECONNREFUSED);
  u_long nonBlocking = 1;
  ::ioctlsocket(squatter, FIONBIO, &nonBlocking);
  EXPECT_EQ(::accept(squatter, nullptr, nullptr), INVALID_SOCKET);
  winsock.closesocket(client);
  ::closesocket(squatter);

  // A new listener on the same channel has a port and token of its own.
  unsigned again = 0;
  listener = Listener(again);
  client = winsock.socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
  EXPECT_EQ(Connect(client), 0);
  winsock.closesocket(client);
  winsock.closesocket(listener);
}

}  // namespace
}  // namespace quorlink::testing
