// Winsock on Windows: the system's own ws2_32 for every call, so message
// windows, WSAAsyncSelect, send, recv and closesocket are Windows' own. With
// the virtual radio enabled, an AF_BTH socket is a loopback TCP socket whose
// addresses, channels and service records go through the radio's registry
// (see WinVirtualRadioLinks.h); without it, AF_BTH is the system's.
#include <winsock2.h>
#include <ws2bth.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/BthSockAddr.h"
#include "platform/Winsock.h"
#include "platform/posix/BthAddressText.h"
#include "platform/virtual/VirtualRadio.h"
#include "platform/windows/WinVirtualRadioLinks.h"

namespace quorlink::platform {

namespace {

struct VirtualSocket {
  enum class State { Fresh, Bound, Listening, Connected };
  std::mutex mutex;
  State state = State::Fresh;
  std::uint64_t localRadio = 0;
  std::uint32_t channel = 0;
  std::uint64_t peerRadio = 0;
  std::uint32_t peerChannel = 0;
  std::string token;  // a bound channel's: what its links must present
  vradio::ChannelClaim claim;
  std::unique_ptr<vradio::LinkRecord> link;
  HWND window = nullptr;
  UINT message = 0;
  LONG mask = 0;
};

class Table {
 public:
  void Insert(SOCKET s, std::shared_ptr<VirtualSocket> v) {
    std::lock_guard lock(mutex_);
    sockets_[s] = std::move(v);
  }
  std::shared_ptr<VirtualSocket> Find(SOCKET s) {
    std::lock_guard lock(mutex_);
    auto it = sockets_.find(s);
    return it == sockets_.end() ? nullptr : it->second;
  }
  std::shared_ptr<VirtualSocket> Remove(SOCKET s) {
    std::lock_guard lock(mutex_);
    auto it = sockets_.find(s);
    if (it == sockets_.end()) return nullptr;
    auto v = std::move(it->second);
    sockets_.erase(it);
    return v;
  }

 private:
  std::mutex mutex_;
  std::map<SOCKET, std::shared_ptr<VirtualSocket>> sockets_;
};

Table& Sockets() {
  static Table* table = new Table;  // used by sockets until the process ends
  return *table;
}

template <class T>
T Fail(int error, T value) {
  ::WSASetLastError(error);
  return value;
}

int WsaOfErrno(int err) {
  switch (err) {
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case EEXIST:
      return WSAEADDRINUSE;
    case ENOENT:
      return WSASERVICE_NOT_FOUND;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case EINVAL:
      return WSAEINVAL;
    default:
      return WSAENETDOWN;
  }
}

bool ReadAddress(const SOCKADDR* name, int length, SOCKADDR_BTH& out, int& error) {
  error = ReadBthAddress(name, length, out);
  return error == 0;
}

int WriteAddress(std::uint64_t radio, std::uint32_t channel, SOCKADDR* name, int* length) {
  const int error = WriteBthAddress(radio, channel, name, length);
  return error == 0 ? 0 : Fail(error, SOCKET_ERROR);
}

// A failure found before any connection was tried, reported as Winsock
// reports a non-blocking connect's outcome.
int ConnectFailed(SOCKET s, VirtualSocket& v, bool nonBlocking, int error) {
  if (!nonBlocking) return Fail(error, SOCKET_ERROR);
  if (v.window != nullptr && (v.mask & FD_CONNECT) != 0)
    ::PostMessageW(v.window, v.message, static_cast<WPARAM>(s),
                   static_cast<LPARAM>(WSAMAKESELECTREPLY(FD_CONNECT, error)));
  return Fail(WSAEWOULDBLOCK, SOCKET_ERROR);
}

class WinWinsock final : public IWinsock {
 public:
  int WSAStartup(WORD versionRequested, WSADATA* data) override {
    return ::WSAStartup(versionRequested, data);
  }
  int WSACleanup() override { return ::WSACleanup(); }

  SOCKET socket(int af, int type, int protocol) override {
    if (af != AF_BTH || !vradio::Enabled()) return ::socket(af, type, protocol);
    if (type != SOCK_STREAM) return Fail(WSAESOCKTNOSUPPORT, INVALID_SOCKET);
    if (protocol != BTHPROTO_RFCOMM) return Fail(WSAEPROTONOSUPPORT, INVALID_SOCKET);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    // Links carry small writes; Nagle would hold them back.
    BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    Sockets().Insert(s, std::make_shared<VirtualSocket>());
    return s;
  }

  int closesocket(SOCKET s) override {
    if (auto v = Sockets().Remove(s)) {
      std::lock_guard lock(v->mutex);
      // The channel's entry goes before the port, so no one is sent to a
      // port the channel no longer holds.
      v->claim.Release();
      v->link.reset();
    }
    return ::closesocket(s);
  }

  int bind(SOCKET s, const SOCKADDR* name, int nameLength) override {
    auto v = Sockets().Find(s);
    if (!v) return ::bind(s, name, nameLength);
    SOCKADDR_BTH addr;
    int error;
    if (!ReadAddress(name, nameLength, addr, error)) return Fail(error, SOCKET_ERROR);
    std::lock_guard lock(v->mutex);
    if (v->state != VirtualSocket::State::Fresh) return Fail(WSAEINVAL, SOCKET_ERROR);
    const std::uint64_t radio = addr.btAddr != 0 ? addr.btAddr : vradio::DefaultRadio();
    if (radio == 0) return Fail(WSAEADDRNOTAVAIL, SOCKET_ERROR);
    if (int err = vradio::BindChannel(s, radio, addr.port, v->claim, v->token))
      return Fail(err, SOCKET_ERROR);
    v->state = VirtualSocket::State::Bound;
    v->localRadio = radio;
    v->channel = v->claim.Channel();
    return 0;
  }

  int listen(SOCKET s, int backlog) override {
    auto v = Sockets().Find(s);
    if (!v) return ::listen(s, backlog);
    std::lock_guard lock(v->mutex);
    if (v->state == VirtualSocket::State::Listening) return 0;
    if (v->state != VirtualSocket::State::Bound) return Fail(WSAEINVAL, SOCKET_ERROR);
    if (::listen(s, backlog < 1 ? 1 : backlog) != 0) return SOCKET_ERROR;
    v->state = VirtualSocket::State::Listening;
    return 0;
  }

  SOCKET accept(SOCKET s, SOCKADDR* address, int* addressLength) override {
    auto v = Sockets().Find(s);
    if (!v) return ::accept(s, address, addressLength);
    std::string token;
    std::uint64_t radio;
    std::uint32_t channel;
    {
      std::lock_guard lock(v->mutex);
      if (v->state != VirtualSocket::State::Listening) return Fail(WSAEINVAL, INVALID_SOCKET);
      token = v->token;
      radio = v->localRadio;
      channel = v->channel;
    }
    SOCKET link = INVALID_SOCKET;
    std::uint64_t peer = 0;
    if (int err = vradio::AcceptLink(s, token, link, peer)) return Fail(err, INVALID_SOCKET);
    auto linked = std::make_shared<VirtualSocket>();
    linked->state = VirtualSocket::State::Connected;
    linked->localRadio = radio;
    linked->channel = channel;
    linked->peerRadio = peer;
    linked->peerChannel = channel;
    linked->link = std::make_unique<vradio::LinkRecord>(radio, peer);
    {
      // The accepted socket takes over the listening socket's request, as
      // Windows does with the socket itself.
      std::lock_guard lock(v->mutex);
      linked->window = v->window;
      linked->message = v->message;
      linked->mask = v->mask;
    }
    Sockets().Insert(link, linked);
    if (address != nullptr && addressLength != nullptr)
      WriteAddress(peer, channel, address, addressLength);
    return link;
  }

  int connect(SOCKET s, const SOCKADDR* name, int nameLength) override {
    auto v = Sockets().Find(s);
    if (!v) return ::connect(s, name, nameLength);
    SOCKADDR_BTH addr;
    int error;
    if (!ReadAddress(name, nameLength, addr, error)) return Fail(error, SOCKET_ERROR);
    std::unique_lock lock(v->mutex);
    if (v->state == VirtualSocket::State::Connected) return Fail(WSAEISCONN, SOCKET_ERROR);
    if (v->state == VirtualSocket::State::Listening) return Fail(WSAEINVAL, SOCKET_ERROR);
    const bool nonBlocking = v->window != nullptr;
    const std::uint64_t local =
        v->state == VirtualSocket::State::Bound ? v->localRadio : vradio::DefaultRadio();
    const std::uint64_t remote = addr.btAddr;
    const GUID serviceClass = addr.serviceClassId;
    std::uint32_t channel = addr.port;
    if (local == 0) return ConnectFailed(s, *v, nonBlocking, WSAENETDOWN);
    if (channel == 0) {
      // Port 0 asks the remote radio's records for the service class.
      auto found = vradio::FindService(remote, serviceClass);
      if (!found)
        return ConnectFailed(s, *v, nonBlocking,
                             vradio::RadioIsLive(remote) ? WSASERVICE_NOT_FOUND : WSAEHOSTUNREACH);
      channel = *found;
    }
    if (!nonBlocking) lock.unlock();
    bool attempted = false;
    const int err = vradio::ConnectChannel(s, local, remote, channel, attempted);
    if (!nonBlocking) lock.lock();
    if (err != 0) {
      // The outcome of a connection the system tried reaches the window by itself.
      if (nonBlocking && attempted) return Fail(WSAEWOULDBLOCK, SOCKET_ERROR);
      return ConnectFailed(s, *v, nonBlocking, err);
    }
    v->state = VirtualSocket::State::Connected;
    v->localRadio = local;
    v->peerRadio = remote;
    v->peerChannel = channel;
    v->link = std::make_unique<vradio::LinkRecord>(local, remote);
    // Non-blocking: Windows posts FD_CONNECT for the connection just made.
    return nonBlocking ? Fail(WSAEWOULDBLOCK, SOCKET_ERROR) : 0;
  }

  int send(SOCKET s, const char* buffer, int length, int flags) override {
    return ::send(s, buffer, length, flags);
  }
  int recv(SOCKET s, char* buffer, int length, int flags) override {
    return ::recv(s, buffer, length, flags);
  }

  int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG eventMask) override {
    if (auto v = Sockets().Find(s)) {
      std::lock_guard lock(v->mutex);
      v->window = eventMask != 0 ? window : v->window;
      v->message = message;
      v->mask = eventMask;
    }
    return ::WSAAsyncSelect(s, window, message, eventMask);
  }

  INT WSASetServiceA(WSAQUERYSETA* qs, WSAESETSERVICEOP operation, DWORD flags) override {
    if (!vradio::Enabled()) return ::WSASetServiceA(qs, operation, flags);
    if (qs == nullptr || qs->dwSize < sizeof(WSAQUERYSETA) || qs->lpServiceClassId == nullptr ||
        qs->dwNumberOfCsAddrs < 1 || qs->lpcsaBuffer == nullptr || qs->dwNameSpace != NS_BTH)
      return Fail(WSAEINVAL, SOCKET_ERROR);
    const SOCKET_ADDRESS& local = qs->lpcsaBuffer[0].LocalAddr;
    SOCKADDR_BTH addr;
    int error;
    if (!ReadAddress(local.lpSockaddr, local.iSockaddrLength, addr, error))
      return Fail(error, SOCKET_ERROR);
    if (operation == RNRSERVICE_REGISTER) {
      vradio::ServiceRecord record;
      record.address = addr.btAddr;
      record.channel = addr.port;
      record.serviceClass = *qs->lpServiceClassId;
      if (qs->lpszServiceInstanceName != nullptr) record.name = qs->lpszServiceInstanceName;
      if (qs->lpszComment != nullptr) record.comment = qs->lpszComment;
      if (int err = vradio::PublishService(record)) return Fail(WsaOfErrno(err), SOCKET_ERROR);
      return 0;
    }
    if (int err = vradio::DeleteService(addr.btAddr, addr.port, *qs->lpServiceClassId))
      return Fail(WsaOfErrno(err), SOCKET_ERROR);
    return 0;
  }

  int getsockname(SOCKET s, SOCKADDR* name, int* nameLength) override {
    auto v = Sockets().Find(s);
    if (!v) return ::getsockname(s, name, nameLength);
    std::lock_guard lock(v->mutex);
    if (v->state == VirtualSocket::State::Fresh) return Fail(WSAEINVAL, SOCKET_ERROR);
    return WriteAddress(v->localRadio, v->channel, name, nameLength);
  }

  int getpeername(SOCKET s, SOCKADDR* name, int* nameLength) override {
    auto v = Sockets().Find(s);
    if (!v) return ::getpeername(s, name, nameLength);
    std::lock_guard lock(v->mutex);
    if (v->state != VirtualSocket::State::Connected) return Fail(WSAENOTCONN, SOCKET_ERROR);
    return WriteAddress(v->peerRadio, v->peerChannel, name, nameLength);
  }

  int getsockopt(SOCKET s, int level, int option, char* value, int* valueLength) override {
    if (!Sockets().Find(s) || level != SOL_SOCKET || option != SO_PROTOCOL_INFOA)
      return ::getsockopt(s, level, option, value, valueLength);
    if (value == nullptr || valueLength == nullptr ||
        *valueLength < static_cast<int>(sizeof(WSAPROTOCOL_INFOA)))
      return Fail(WSAEFAULT, SOCKET_ERROR);
    WSAPROTOCOL_INFOA info{};
    info.iVersion = 2;
    info.iAddressFamily = AF_BTH;
    info.iMaxSockAddr = kBthAddressLength;
    info.iMinSockAddr = kBthAddressLength;
    info.iSocketType = SOCK_STREAM;
    info.iProtocol = BTHPROTO_RFCOMM;
    std::strcpy(info.szProtocol, "Quorlink virtual radio RFCOMM");
    std::memcpy(value, &info, sizeof info);
    *valueLength = static_cast<int>(sizeof info);
    return 0;
  }

  // Bluetooth text is the library's own with the virtual radio (Wine's
  // ws2_32 has none); otherwise the system's.
  INT WSAAddressToStringA(SOCKADDR* address, DWORD addressLength, WSAPROTOCOL_INFOA* info,
                          char* text, DWORD* textLength) override {
    if (!vradio::Enabled())
      return ::WSAAddressToStringA(address, addressLength, info, text, textLength);
    if (int err = posix::BthAddressToString(address, addressLength, text, textLength))
      return Fail(err, SOCKET_ERROR);
    return 0;
  }

  INT WSAStringToAddressA(char* text, INT family, WSAPROTOCOL_INFOA* info, SOCKADDR* address,
                          INT* addressLength) override {
    if (!vradio::Enabled())
      return ::WSAStringToAddressA(text, family, info, address, addressLength);
    if (int err = posix::BthStringToAddress(text, family, address, addressLength))
      return Fail(err, SOCKET_ERROR);
    return 0;
  }

  int WSAGetLastError() override { return ::WSAGetLastError(); }
  void WSASetLastError(int error) override { ::WSASetLastError(error); }
  int __WSAFDIsSet(SOCKET s, win32::fd_set* set) override { return ::__WSAFDIsSet(s, set); }
};

}  // namespace

IWinsock& OsWinsock() {
  static WinWinsock winsock;
  return winsock;
}

}  // namespace quorlink::platform
