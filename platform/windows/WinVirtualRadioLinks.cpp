#include "platform/windows/WinVirtualRadioLinks.h"

#include <ws2tcpip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace quorlink::platform::vradio {

namespace {

constexpr char kMagic[4] = {'Q', 'V', 'R', '1'};
constexpr std::size_t kTokenLength = 16;
constexpr DWORD kConnectWaitMs = 10000;

int WsaOf(int err) {
  switch (err) {
    case 0:
      return 0;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case EINVAL:
      return WSAEINVAL;
    case ENETDOWN:
      return WSAENETDOWN;
    default:
      return WSAENETDOWN;
  }
}

std::string NewToken() {
  std::random_device random;
  std::string token(kTokenLength, '\0');
  for (auto& c : token) c = static_cast<char>(random() & 0xFF);
  return token;
}

std::string HexOf(const std::string& bytes) {
  std::string text;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    text += two;
  }
  return text;
}

bool BytesOf(const std::string& hex, std::string& bytes) {
  if (hex.size() != 2 * kTokenLength) return false;
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const char c = hex[k];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    bytes.push_back(static_cast<char>(value));
  }
  return true;
}

sockaddr_in Loopback(unsigned port) {
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<u_short>(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return at;
}

// Waits for a socket to become readable or writable; false on timeout.
bool Wait(SOCKET s, bool write, DWORD ms, bool& failed) {
  fd_set ready, error;
  FD_ZERO(&ready);
  FD_ZERO(&error);
  FD_SET(s, &ready);
  FD_SET(s, &error);
  timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
  const int n = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &error, &limit);
  failed = n < 0 || FD_ISSET(s, &error);
  return n > 0;
}

// Sends all of a short message, waiting for room on a non-blocking socket.
int SendAll(SOCKET s, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int n = ::send(s, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    const int err = ::WSAGetLastError();
    bool failed = false;
    if (err != WSAEWOULDBLOCK || !Wait(s, true, kConnectWaitMs, failed) || failed)
      return err == WSAEWOULDBLOCK ? WSAETIMEDOUT : err;
  }
  return 0;
}

// Reads a new connection's hello; false for anything but a hello with the token.
bool ReadHello(SOCKET s, const std::string& token, std::uint64_t& peerRadio) {
  char hello[kHelloLength];
  int got = 0;
  const DWORD start = GetTickCount();
  // Waits before each read, so a silent stranger cannot hold a blocking
  // accept for longer than the limit.
  while (got < kHelloLength) {
    const DWORD spent = GetTickCount() - start;
    bool failed = false;
    if (spent >= kHelloWaitMs || !Wait(s, false, kHelloWaitMs - spent, failed) || failed)
      return false;
    const int n = ::recv(s, hello + got, kHelloLength - got, 0);
    if (n > 0) {
      got += n;
    } else if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK) {
      return false;
    }
  }
  if (std::memcmp(hello, kMagic, sizeof kMagic) != 0 ||
      std::memcmp(hello + 4, token.data(), kTokenLength) != 0)
    return false;
  std::uint64_t radio = 0;
  for (int i = 7; i >= 0; --i) radio = radio << 8 | static_cast<unsigned char>(hello[20 + i]);
  peerRadio = radio & 0xFFFFFFFFFFFFull;
  return true;
}

}  // namespace

std::string Hello(const std::string& token, std::uint64_t localRadio) {
  std::string hello(kMagic, sizeof kMagic);
  hello += token;
  for (int i = 0; i < 8; ++i) hello.push_back(static_cast<char>(localRadio >> (8 * i) & 0xFF));
  return hello;
}

int BindChannel(SOCKET s, std::uint64_t radio, std::uint32_t channel, ChannelClaim& claim,
                std::string& token) {
  std::string fresh = NewToken();
  int socketError = 0;
  const int err = ClaimChannel(radio, channel, claim, [&](ChannelClaim& held) {
    // Exclusive: no one else may bind the port while the channel has it.
    BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in at = Loopback(0);
    int length = sizeof at;
    if (::bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
      socketError = ::WSAGetLastError();
      return EIO;
    }
    const std::string entry =
        "tcp " + std::to_string(ntohs(at.sin_port)) + " " + HexOf(fresh) + "\n";
    if (!held.Publish(entry)) return EIO;
    return 0;
  });
  if (err == 0) token = std::move(fresh);
  return socketError != 0 ? socketError : WsaOf(err);
}

bool ReadChannelEntry(std::uint64_t radio, std::uint32_t channel, unsigned& port,
                      std::string& token) {
  const auto entry = ChannelEntry(radio, channel);
  if (!entry) return false;
  char hex[2 * kTokenLength + 1] = {};
  unsigned value = 0;
  if (std::sscanf(entry->c_str(), "tcp %5u %32s", &value, hex) != 2 || value == 0 || value > 65535)
    return false;
  port = value;
  return BytesOf(hex, token);
}

int ConnectChannel(SOCKET s, std::uint64_t localRadio, std::uint64_t remoteRadio,
                   std::uint32_t channel, bool& attempted) {
  attempted = false;
  if (!RadioIsLive(remoteRadio)) return WSAEHOSTUNREACH;
  unsigned port = 0;
  std::string token;
  if (!ReadChannelEntry(remoteRadio, channel, port, token)) return WSAECONNREFUSED;
  sockaddr_in to = Loopback(port);
  attempted = true;
  if (::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    const int err = ::WSAGetLastError();
    if (err != WSAEWOULDBLOCK) return err;
    // The hello must go before the caller can send; a loopback connection
    // is made (or refused) at once.
    bool failed = false;
    if (!Wait(s, true, kConnectWaitMs, failed)) return WSAETIMEDOUT;
    if (failed) {
      int error = 0;
      int length = sizeof error;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
      return error != 0 ? error : WSAECONNREFUSED;
    }
  }
  return SendAll(s, Hello(token, localRadio));
}

int AcceptLink(SOCKET listener, const std::string& token, SOCKET& link, std::uint64_t& peerRadio) {
  for (;;) {
    sockaddr_in from{};
    int length = sizeof from;
    SOCKET s = ::accept(listener, reinterpret_cast<sockaddr*>(&from), &length);
    if (s == INVALID_SOCKET) return ::WSAGetLastError();
    if (from.sin_family == AF_INET && from.sin_addr.s_addr == htonl(INADDR_LOOPBACK) &&
        ReadHello(s, token, peerRadio)) {
      link = s;
      return 0;
    }
    // A stranger: not a link of any radio.
    ::closesocket(s);
  }
}

}  // namespace quorlink::platform::vradio
