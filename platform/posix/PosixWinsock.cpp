// Winsock's Bluetooth family on POSIX, over the virtual radio or BlueZ (the
// socket's endpoint). The start-up count, socket handles and last error
// behave as Winsock's do.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "platform/BthSockAddr.h"
#include "platform/Winsock.h"
#include "platform/posix/BluetoothProvider.h"
#include "platform/posix/BthAddressText.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/PosixWinsockSocket.h"
#include "platform/posix/bluez/Endpoint.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink::platform {

namespace {

using posix::WinsockSocket;
using State = WinsockSocket::State;

// Winsock's SOL_SOCKET; <sys/socket.h> gives that name another value.
constexpr int kWinsockSolSocket = 0xFFFF;

std::atomic<int> startups{0};

template <class T>
T Fail(int error, T value) {
  posix::SetLastError(static_cast<DWORD>(error));
  return value;
}

bool Started() {
  return startups.load() > 0;
}

// Every socket call starts here: Winsock running, and a handle it knows.
std::shared_ptr<WinsockSocket> Lookup(SOCKET s, int& error) {
  if (!Started()) {
    error = WSANOTINITIALISED;
    return nullptr;
  }
  auto socket = posix::FindSocket(s);
  error = socket ? 0 : WSAENOTSOCK;
  return socket;
}

// send and recv start here: a connected socket and a usable buffer.
std::shared_ptr<WinsockSocket> LookupConnected(SOCKET s, const void* buffer, int length,
                                               bool& nonBlocking, int& error) {
  auto socket = Lookup(s, error);
  if (!socket) return nullptr;
  if (buffer == nullptr || length < 0) {
    error = WSAEFAULT;
    return nullptr;
  }
  std::lock_guard lock(socket->mutex);
  if (socket->state != WinsockSocket::State::Connected) {
    error = WSAENOTCONN;
    return nullptr;
  }
  nonBlocking = socket->nonBlocking;
  return socket;
}

bool ReadAddress(const SOCKADDR* name, int length, SOCKADDR_BTH& out, int& error) {
  error = ReadBthAddress(name, length, out);
  return error == 0;
}

int WriteAddress(std::uint64_t radio, std::uint32_t channel, SOCKADDR* name, int* length) {
  const int error = WriteBthAddress(radio, channel, name, length);
  return error == 0 ? 0 : Fail(error, SOCKET_ERROR);
}

bool UseBluez() {
  return !vradio::Enabled() &&
         posix::ChooseBluetoothProvider().kind == posix::BluetoothProviderKind::BlueZ;
}

// A descriptor BlueZ replaced (a link, a link queue) takes the socket's mode.
void MatchBlocking(const WinsockSocket& socket) {
  const int flags = fcntl(socket.fd, F_GETFL);
  fcntl(socket.fd, F_SETFL, socket.nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

// The end of a BlueZ connect, from the main loop.
void BluezConnectDone(const std::weak_ptr<WinsockSocket>& weak, int code) {
  auto socket = weak.lock();
  if (!socket) return;
  std::lock_guard lock(socket->mutex);
  if (socket->closed || socket->state != State::Connecting) return;
  if (code == 0) {
    socket->state = State::Connected;
    MatchBlocking(*socket);
  } else {
    socket->state = State::Fresh;
  }
  posix::PostLocked(*socket, FD_CONNECT, code);
  posix::RearmLocked(socket, 0);
}

int BluezConnectLocked(const std::shared_ptr<WinsockSocket>& socket, const SOCKADDR_BTH& addr) {
  const std::uint64_t remote = addr.btAddr;
  const GUID serviceClass = addr.serviceClassId;
  std::uint32_t channel = addr.port;
  if (channel == BT_PORT_ANY) channel = 0;
  if (channel > vradio::kLastChannel) return Fail(WSAEINVAL, SOCKET_ERROR);
  socket->peerRadio = remote;
  socket->peerChannel = channel;
  std::weak_ptr<WinsockSocket> weak = socket;
  int code = socket->bluez->Connect(socket->state == State::Bound ? socket->localRadio : 0, remote,
                                    channel, serviceClass, socket->nonBlocking,
                                    [weak](int result) { BluezConnectDone(weak, result); });
  if (code == 0) {
    socket->state = State::Connected;
    socket->channel = channel;
    return 0;
  }
  if (code == WSAEWOULDBLOCK) {
    socket->state = State::Connecting;
    return Fail(WSAEWOULDBLOCK, SOCKET_ERROR);
  }
  if (!socket->nonBlocking) return Fail(code, SOCKET_ERROR);
  // Non-blocking: the outcome is reported by FD_CONNECT.
  posix::PostLocked(*socket, FD_CONNECT, code);
  return Fail(WSAEWOULDBLOCK, SOCKET_ERROR);
}

class PosixWinsock final : public IWinsock {
 public:
  int WSAStartup(WORD versionRequested, WSADATA* data) override {
    if (data == nullptr) return WSAEFAULT;
    const int major = versionRequested & 0xFF;
    if (major < 2) return WSAVERNOTSUPPORTED;
    std::memset(data, 0, sizeof *data);
    data->wVersion = 0x0202;
    data->wHighVersion = 0x0202;
    std::strcpy(data->szDescription, "Quorlink POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
    startups.fetch_add(1);
    return 0;
  }

  int WSACleanup() override {
    int count = startups.load();
    while (count > 0 && !startups.compare_exchange_weak(count, count - 1)) {
    }
    return count > 0 ? 0 : Fail(WSANOTINITIALISED, SOCKET_ERROR);
  }

  SOCKET socket(int af, int type, int protocol) override {
    if (!Started()) return Fail(WSANOTINITIALISED, INVALID_SOCKET);
    const bool bluez = af == AF_BTH && UseBluez();
    if (af != AF_BTH || (!vradio::Enabled() && !bluez))
      return Fail(WSAEAFNOSUPPORT, INVALID_SOCKET);
    if (type != win32::SOCK_STREAM) return Fail(WSAESOCKTNOSUPPORT, INVALID_SOCKET);
    if (protocol != BTHPROTO_RFCOMM) return Fail(WSAEPROTONOSUPPORT, INVALID_SOCKET);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Fail(posix::WsaErrorFromErrno(errno), INVALID_SOCKET);
    auto socket = std::make_shared<WinsockSocket>(fd);
    if (bluez) socket->bluez = posix::bluez::Endpoint::Create(fd);
    return posix::InsertSocket(std::move(socket));
  }

  int closesocket(SOCKET s) override {
    if (!Started()) return Fail(WSANOTINITIALISED, SOCKET_ERROR);
    auto socket = posix::RemoveSocket(s);
    if (!socket) return Fail(WSAENOTSOCK, SOCKET_ERROR);
    std::lock_guard lock(socket->mutex);
    posix::UnselectLocked(*socket);
    socket->closed = true;
    socket->link.reset();
    socket->bluez.reset();
    // Wakes calls still blocked on it; the descriptor closes with the last
    // reference, so it cannot be reused under them.
    ::shutdown(socket->fd, SHUT_RDWR);
    return 0;
  }

  int bind(SOCKET s, const SOCKADDR* name, int nameLength) override {
    int error;
    auto socket = Lookup(s, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    SOCKADDR_BTH addr;
    if (!ReadAddress(name, nameLength, addr, error)) return Fail(error, SOCKET_ERROR);
    std::lock_guard lock(socket->mutex);
    if (socket->state != State::Fresh) return Fail(WSAEINVAL, SOCKET_ERROR);
    if (socket->bluez) {
      if (int code =
              socket->bluez->Bind(addr.btAddr, addr.port, socket->localRadio, socket->channel))
        return Fail(code, SOCKET_ERROR);
      socket->state = State::Bound;
      return 0;
    }
    const std::uint64_t radio = addr.btAddr != 0 ? addr.btAddr : vradio::DefaultRadio();
    if (radio == 0) return Fail(WSAEADDRNOTAVAIL, SOCKET_ERROR);
    if (int err = vradio::BindChannel(socket->fd, radio, addr.port, socket->claim))
      return Fail(posix::WsaErrorFromErrno(err), SOCKET_ERROR);
    socket->state = State::Bound;
    socket->localRadio = radio;
    socket->channel = socket->claim.Channel();
    return 0;
  }

  int listen(SOCKET s, int backlog) override {
    int error;
    auto socket = Lookup(s, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    std::lock_guard lock(socket->mutex);
    if (socket->state == State::Listening) return 0;
    if (socket->state != State::Bound) return Fail(WSAEINVAL, SOCKET_ERROR);
    if (socket->bluez) {
      if (int code = socket->bluez->Listen()) return Fail(code, SOCKET_ERROR);
      MatchBlocking(*socket);
    } else if (::listen(socket->fd, backlog < 1 ? 1 : backlog) != 0)
      return Fail(posix::WsaErrorFromErrno(errno), SOCKET_ERROR);
    socket->state = State::Listening;
    posix::RearmLocked(socket, 0);
    return 0;
  }

  SOCKET accept(SOCKET s, SOCKADDR* address, int* addressLength) override {
    int error;
    auto socket = Lookup(s, error);
    if (!socket) return Fail(error, INVALID_SOCKET);
    bool nonBlocking;
    std::shared_ptr<posix::bluez::Endpoint> bluez;
    {
      std::lock_guard lock(socket->mutex);
      if (socket->state != State::Listening) return Fail(WSAEINVAL, INVALID_SOCKET);
      nonBlocking = socket->nonBlocking;
      bluez = socket->bluez;
    }
    int fd = -1;
    std::uint64_t peer = 0;
    const int code =
        bluez ? bluez->Accept(nonBlocking, fd, peer)
              : posix::WsaErrorFromErrno(vradio::AcceptLink(socket->fd, nonBlocking, fd, peer));
    std::lock_guard lock(socket->mutex);
    posix::RearmLocked(socket, FD_ACCEPT);
    if (code != 0) return Fail(code, INVALID_SOCKET);
    auto link = std::make_shared<WinsockSocket>(fd);
    link->state = State::Connected;
    link->nonBlocking = nonBlocking;
    link->localRadio = socket->localRadio;
    link->channel = socket->channel;
    link->peerRadio = peer;
    link->peerChannel = socket->channel;
    if (bluez) {
      link->bluez = posix::bluez::Endpoint::Create(fd);
      link->bluez->Adopt();
    } else {
      link->link = std::make_unique<vradio::LinkRecord>(link->localRadio, peer);
    }
    SOCKET handle = posix::InsertSocket(link);
    if (address != nullptr && addressLength != nullptr)
      WriteAddress(peer, socket->channel, address, addressLength);
    // The accepted socket takes over the listening socket's request.
    if (socket->window != nullptr) {
      std::lock_guard linkLock(link->mutex);
      posix::SelectLocked(link, socket->window, socket->message, socket->mask);
    }
    return handle;
  }

  int connect(SOCKET s, const SOCKADDR* name, int nameLength) override {
    int error;
    auto socket = Lookup(s, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    SOCKADDR_BTH addr;
    if (!ReadAddress(name, nameLength, addr, error)) return Fail(error, SOCKET_ERROR);
    std::unique_lock lock(socket->mutex);
    switch (socket->state) {
      case State::Connected:
        return Fail(WSAEISCONN, SOCKET_ERROR);
      case State::Connecting:
        return Fail(WSAEALREADY, SOCKET_ERROR);
      case State::Listening:
        return Fail(WSAEINVAL, SOCKET_ERROR);
      default:
        break;
    }
    if (socket->bluez) return BluezConnectLocked(socket, addr);
    const std::uint64_t local =
        socket->state == State::Bound ? socket->localRadio : vradio::DefaultRadio();
    // Aligned copies: the record is packed.
    const std::uint64_t remote = addr.btAddr;
    const GUID serviceClass = addr.serviceClassId;
    int err = 0;
    std::uint32_t channel = addr.port;
    if (local == 0) {
      err = ENETDOWN;
    } else if (channel == 0) {
      // Port 0 asks the remote radio's records for the service class.
      auto found = vradio::FindService(remote, serviceClass);
      if (found) {
        channel = *found;
      } else {
        err = vradio::RadioName(remote) ? ENOENT : EHOSTUNREACH;
      }
    }
    socket->localRadio = local;
    socket->peerRadio = remote;
    socket->peerChannel = channel;
    const bool nonBlocking = socket->nonBlocking;
    if (err == 0) {
      if (!nonBlocking) lock.unlock();  // may wait for room in the queue
      err = vradio::ConnectChannel(socket->fd, local, remote, channel);
      if (!nonBlocking) lock.lock();
    }
    if (socket->closed) return Fail(WSAENOTSOCK, SOCKET_ERROR);
    if (err == 0) {
      socket->state = State::Connected;
      socket->channel = channel;
      socket->link = std::make_unique<vradio::LinkRecord>(local, remote);
    }
    if (!nonBlocking) {
      return err == 0 ? 0 : Fail(posix::WsaErrorFromErrno(err), SOCKET_ERROR);
    }
    // Non-blocking: the outcome is reported by FD_CONNECT.
    if (err == EAGAIN) {
      socket->state = State::Connecting;
      posix::StartConnectRetryLocked(socket);
    } else {
      posix::PostLocked(*socket, FD_CONNECT, posix::WsaErrorFromErrno(err));
      posix::RearmLocked(socket, 0);
    }
    return Fail(WSAEWOULDBLOCK, SOCKET_ERROR);
  }

  int send(SOCKET s, const char* buffer, int length, int) override {
    int error;
    bool nonBlocking = false;
    auto socket = LookupConnected(s, buffer, length, nonBlocking, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    std::size_t done = 0;
    const auto total = static_cast<std::size_t>(length);
    int err = 0;
    do {
      ssize_t n = ::send(socket->fd, buffer + done, total - done,
                         MSG_NOSIGNAL | (nonBlocking ? MSG_DONTWAIT : 0));
      if (n < 0) {
        if (errno == EINTR) continue;
        err = errno;
        break;
      }
      done += static_cast<std::size_t>(n);
    } while (!nonBlocking && done < total);
    if (done > 0 || total == 0) return static_cast<int>(done);
    if (err == EAGAIN) {
      std::lock_guard lock(socket->mutex);
      posix::RearmLocked(socket, FD_WRITE);
    }
    return Fail(posix::WsaErrorFromErrno(err), SOCKET_ERROR);
  }

  int recv(SOCKET s, char* buffer, int length, int) override {
    int error;
    bool nonBlocking = false;
    auto socket = LookupConnected(s, buffer, length, nonBlocking, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    ssize_t n;
    do {
      n = ::recv(socket->fd, buffer, static_cast<std::size_t>(length),
                 nonBlocking ? MSG_DONTWAIT : 0);
    } while (n < 0 && errno == EINTR);
    const int err = errno;
    if (nonBlocking) {
      std::lock_guard lock(socket->mutex);
      posix::ReadTakenLocked(socket, length > 0 && n == length);
    }
    if (n < 0) return Fail(posix::WsaErrorFromErrno(err), SOCKET_ERROR);
    return static_cast<int>(n);
  }

  int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG eventMask) override {
    int error;
    auto socket = Lookup(s, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    if (eventMask != 0 && window == nullptr) return Fail(WSAEINVAL, SOCKET_ERROR);
    std::lock_guard lock(socket->mutex);
    if (!socket->nonBlocking) {
      int flags = fcntl(socket->fd, F_GETFL);
      fcntl(socket->fd, F_SETFL, flags | O_NONBLOCK);
      socket->nonBlocking = true;
    }
    posix::SelectLocked(socket, window, message, eventMask);
    return 0;
  }

  INT WSASetServiceA(WSAQUERYSETA* qs, WSAESETSERVICEOP operation, DWORD) override {
    if (!Started()) return Fail(WSANOTINITIALISED, SOCKET_ERROR);
    if (qs == nullptr || qs->dwSize < sizeof(WSAQUERYSETA) || qs->lpServiceClassId == nullptr ||
        qs->dwNumberOfCsAddrs < 1 || qs->lpcsaBuffer == nullptr)
      return Fail(WSAEINVAL, SOCKET_ERROR);
    if (qs->dwNameSpace != NS_BTH) return Fail(WSAEINVAL, SOCKET_ERROR);
    const SOCKET_ADDRESS& local = qs->lpcsaBuffer[0].LocalAddr;
    SOCKADDR_BTH addr;
    int error;
    if (!ReadAddress(local.lpSockaddr, local.iSockaddrLength, addr, error))
      return Fail(error, SOCKET_ERROR);
    if (UseBluez()) {
      if (operation != RNRSERVICE_REGISTER) {
        const int code = posix::bluez::Unpublish(addr.btAddr, addr.port, *qs->lpServiceClassId);
        return code == 0 ? 0 : Fail(code, SOCKET_ERROR);
      }
      posix::bluez::ServiceRecord record;
      record.radio = addr.btAddr;
      record.channel = addr.port;
      record.serviceClass = *qs->lpServiceClassId;
      if (qs->lpszServiceInstanceName != nullptr) record.name = qs->lpszServiceInstanceName;
      if (qs->lpszComment != nullptr) record.comment = qs->lpszComment;
      const int code = posix::bluez::Publish(record);
      return code == 0 ? 0 : Fail(code, SOCKET_ERROR);
    }
    if (operation == RNRSERVICE_REGISTER) {
      vradio::ServiceRecord record;
      record.address = addr.btAddr;
      record.channel = addr.port;
      record.serviceClass = *qs->lpServiceClassId;
      if (qs->lpszServiceInstanceName != nullptr) record.name = qs->lpszServiceInstanceName;
      if (qs->lpszComment != nullptr) record.comment = qs->lpszComment;
      if (int err = vradio::PublishService(record))
        return Fail(posix::WsaErrorFromErrno(err), SOCKET_ERROR);
      return 0;
    }
    if (int err = vradio::DeleteService(addr.btAddr, addr.port, *qs->lpServiceClassId))
      return Fail(err == ENOENT ? WSASERVICE_NOT_FOUND : posix::WsaErrorFromErrno(err),
                  SOCKET_ERROR);
    return 0;
  }

  int getsockname(SOCKET s, SOCKADDR* name, int* nameLength) override {
    int error;
    auto socket = Lookup(s, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    std::lock_guard lock(socket->mutex);
    if (socket->state == State::Fresh || socket->state == State::Connecting)
      return Fail(WSAEINVAL, SOCKET_ERROR);
    return WriteAddress(socket->localRadio, socket->channel, name, nameLength);
  }

  int getpeername(SOCKET s, SOCKADDR* name, int* nameLength) override {
    int error;
    auto socket = Lookup(s, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    std::lock_guard lock(socket->mutex);
    if (socket->state != State::Connected) return Fail(WSAENOTCONN, SOCKET_ERROR);
    return WriteAddress(socket->peerRadio, socket->peerChannel, name, nameLength);
  }

  int getsockopt(SOCKET s, int level, int option, char* value, int* valueLength) override {
    int error;
    auto socket = Lookup(s, error);
    if (!socket) return Fail(error, SOCKET_ERROR);
    if (level != kWinsockSolSocket || option != SO_PROTOCOL_INFOA)
      return Fail(WSAENOPROTOOPT, SOCKET_ERROR);
    if (value == nullptr || valueLength == nullptr ||
        *valueLength < static_cast<int>(sizeof(WSAPROTOCOL_INFOA)))
      return Fail(WSAEFAULT, SOCKET_ERROR);
    WSAPROTOCOL_INFOA info{};
    info.iVersion = 2;
    info.iAddressFamily = AF_BTH;
    info.iMaxSockAddr = kBthAddressLength;
    info.iMinSockAddr = kBthAddressLength;
    info.iSocketType = win32::SOCK_STREAM;
    info.iProtocol = BTHPROTO_RFCOMM;
    std::strcpy(info.szProtocol,
                socket->bluez ? "Quorlink BlueZ RFCOMM" : "Quorlink virtual radio RFCOMM");
    std::memcpy(value, &info, sizeof info);
    *valueLength = static_cast<int>(sizeof info);
    return 0;
  }

  INT WSAAddressToStringA(SOCKADDR* address, DWORD addressLength, WSAPROTOCOL_INFOA*,
                          char* addressString, DWORD* addressStringLength) override {
    if (!Started()) return Fail(WSANOTINITIALISED, SOCKET_ERROR);
    if (int err =
            posix::BthAddressToString(address, addressLength, addressString, addressStringLength))
      return Fail(err, SOCKET_ERROR);
    return 0;
  }

  INT WSAStringToAddressA(char* addressString, INT addressFamily, WSAPROTOCOL_INFOA*,
                          SOCKADDR* address, INT* addressLength) override {
    if (!Started()) return Fail(WSANOTINITIALISED, SOCKET_ERROR);
    if (int err = posix::BthStringToAddress(addressString, addressFamily, address, addressLength))
      return Fail(err, SOCKET_ERROR);
    return 0;
  }

  int WSAGetLastError() override { return static_cast<int>(posix::LastError()); }
  void WSASetLastError(int error) override { posix::SetLastError(static_cast<DWORD>(error)); }

  int __WSAFDIsSet(SOCKET s, win32::fd_set* set) override {
    if (set == nullptr) return 0;
    for (UINT i = 0; i < set->fd_count && i < std::size(set->fd_array); ++i)
      if (set->fd_array[i] == s) return 1;
    return 0;
  }
};

}  // namespace

IWinsock& OsWinsock() {
  static PosixWinsock winsock;
  return winsock;
}

}  // namespace quorlink::platform
