#include "quorlink/bluetooth/QuorBluetoothConnection.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

#include "bluetooth/QuorBluetoothDrain.h"
#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"
#include "platform/Winsock.h"
#include "quorlink/bluetooth/QuorBluetoothText.h"
#include "quorlink/core/SysUtils.h"

namespace quorlink {

namespace {
constexpr int kReadBlock = 2048;
constexpr LONG kLinkEvents = FD_READ | FD_CLOSE;

// From same-typed pointers, so that the array is filled with one memcpy
// rather than byte by byte.
TQuorByteArray Block(const char* buffer, int n) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer);
  return TQuorByteArray(bytes, bytes + n);
}
}  // namespace

TQuorBluetoothConnection::TQuorBluetoothConnection(TQuorCustomTransport* transport, SOCKET socket)
    : TQuorCustomConnection(transport) {
  auto& announcing = Owner().Announcing;
  try {
    if (socket == INVALID_SOCKET) throw EQuorTransportException(_Str_InvalidArgument);
    SocketHandle = socket;
    SelectEvents(kLinkEvents);
    Announced = true;
    announcing.push_back(this);
    DoConnect();
    std::erase(announcing, this);
  } catch (...) {
    std::erase(announcing, this);
    // The destructor will not run: tear down as a destruction would.
    try {
      BeforeDestruction();
    } catch (...) {
    }
    throw;
  }
}

TQuorBluetoothConnection::~TQuorBluetoothConnection() = default;

void TQuorBluetoothConnection::BeforeDestruction() {
  // An abandoned link was released by the Close that abandoned it; the
  // transport may have been opened again since, so it is left alone.
  if (Abandoned) return;
  TQuorCustomConnection::BeforeDestruction();
}

void TQuorBluetoothConnection::Abandon() {
  if (Abandoned) return;
  Abandoned = true;
  std::erase(Owner().Announcing, this);
  const std::exception_ptr error = AnnounceDisconnect();
  ReleaseSocket();
  if (error) std::rethrow_exception(error);
}

void TQuorBluetoothConnection::SelectEvents(LONG events) {
  if (platform::Winsock().WSAAsyncSelect(SocketHandle, WindowHandle, QUORM_SOCKET_EVENT, events) !=
      0)
    RaiseLastOSError();
}

std::exception_ptr TQuorBluetoothConnection::AnnounceDisconnect() noexcept {
  if (!Announced) return nullptr;
  Announced = false;
  try {
    DoDisconnect();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void TQuorBluetoothConnection::Disconnect() {
  const std::exception_ptr error = AnnounceDisconnect();
  // Whatever the handler did to the transport, and whether it raised, the
  // socket is this link's to release.
  const bool hadSocket = SocketHandle != INVALID_SOCKET;
  ReleaseSocket();
  if (hadSocket) Owner().LinkReleased();
  if (error) std::rethrow_exception(error);
}

void TQuorBluetoothConnection::ReleaseSocket() noexcept {
  if (SocketHandle == INVALID_SOCKET) return;
  const SOCKET socket = SocketHandle;
  SocketHandle = INVALID_SOCKET;
  WaitingForWrite = false;
  auto& winsock = platform::Winsock();
  winsock.WSAAsyncSelect(socket, WindowHandle, 0, 0);
  if (PendingWrite() > 0) {
    bluetooth_detail::StartDrain(socket, std::move(Pending), PendingStart);
  } else {
    winsock.closesocket(socket);
  }
  Pending.clear();
  PendingStart = 0;
}

void TQuorBluetoothConnection::Dispatch(TMessage& message) {
  if (message.Msg != QUORM_SOCKET_EVENT) {
    TQuorCustomConnection::Dispatch(message);
    return;
  }
  TQUORM_SOCKET_EVENT record = TQUORM_SOCKET_EVENT::From(message);
  message.Result = 1;  // the record is the caller's; the object may be gone
  QuorMSocketEvent(record);
}

void TQuorBluetoothConnection::QuorMSocketEvent(TQUORM_SOCKET_EVENT& message) {
  message.Result = 1;
  switch (message.SelectEvent) {
    case FD_READ:
      Receive();
      break;
    case FD_WRITE:
      Flush();
      break;
    case FD_CLOSE:
      DrainAndClose();  // touches nothing of this afterwards
      break;
    default:
      break;
  }
}

void TQuorBluetoothConnection::Receive() {
  char buffer[kReadBlock] = {};
  auto& winsock = platform::Winsock();
  const int n = winsock.recv(SocketHandle, buffer, kReadBlock, 0);
  if (n > 0) return DoRead(Block(buffer, n));
  // A close is acted on when FD_CLOSE comes; a link that cannot be read at
  // all would be announced readable for ever, so it ends here.
  if (n == SOCKET_ERROR && winsock.WSAGetLastError() != WSAEWOULDBLOCK) DeleteSelf();
}

void TQuorBluetoothConnection::DrainAndClose() {
  // Bytes that came before the close are delivered before OnDisconnect,
  // whatever order the notifications took.
  std::weak_ptr<int> alive = Alive;
  char buffer[kReadBlock];
  for (;;) {
    const int n = platform::Winsock().recv(SocketHandle, buffer, kReadBlock, 0);
    if (n <= 0) break;
    DoRead(Block(buffer, n));
    if (alive.expired()) return;  // a handler closed the connection
  }
  DeleteSelf();
}

void TQuorBluetoothConnection::Write(const TQuorByteArray& buf) {
  if (buf.empty()) throw EQuorTransportException(_Str_InvalidArgument);
  // Whatever waits goes first, so bytes leave in the order written.
  if (PendingStart == Pending.size()) {
    Pending.clear();
    PendingStart = 0;
  }
  const bool idle = Pending.empty();
  Pending.insert(Pending.end(), buf.begin(), buf.end());
  if (idle) Flush();
}

void TQuorBluetoothConnection::Flush() {
  auto& winsock = platform::Winsock();
  while (PendingStart < Pending.size()) {
    const std::size_t left = Pending.size() - PendingStart;
    const int chunk = static_cast<int>(std::min<std::size_t>(left, INT_MAX));
    const int n =
        winsock.send(SocketHandle, reinterpret_cast<const char*>(&Pending[PendingStart]), chunk, 0);
    if (n == SOCKET_ERROR) {
      if (winsock.WSAGetLastError() == WSAEWOULDBLOCK) break;
      Pending.clear();
      PendingStart = 0;
      if (WaitingForWrite) {
        WaitingForWrite = false;
        winsock.WSAAsyncSelect(SocketHandle, WindowHandle, QUORM_SOCKET_EVENT, kLinkEvents);
      }
      throw EQuorTransportException(_Str_CanNotWriteToConnection);
    }
    PendingStart += static_cast<std::size_t>(n);
    if (n == 0) break;
  }
  if (PendingStart == Pending.size()) {
    Pending.clear();
    PendingStart = 0;
    // Back to the link's own events once the queue is empty.
    if (WaitingForWrite) {
      WaitingForWrite = false;
      SelectEvents(kLinkEvents);
    }
  } else if (!WaitingForWrite) {
    // FD_WRITE says when the socket can take more.
    WaitingForWrite = true;
    SelectEvents(kLinkEvents | FD_WRITE);
  }
}

std::string TQuorBluetoothConnection::GetLocalAddress() {
  return Owner().GetLocalAddress();
}

std::string TQuorBluetoothConnection::GetLocalName() {
  return Owner().GetLocalName();
}

std::string TQuorBluetoothConnection::GetRemoteAddress() {
  auto& winsock = platform::Winsock();
  SOCKADDR_BTH addr{};
  int length = sizeof addr;
  if (winsock.getpeername(SocketHandle, reinterpret_cast<SOCKADDR*>(&addr), &length) != 0)
    RaiseLastOSError();
  return SocketAddressText(SocketHandle, addr);
}

namespace {
// Closes the radio handle and the device search on every way out.
struct DeviceSearchGuard {
  HANDLE radio = INVALID_HANDLE_VALUE;
  HBLUETOOTH_DEVICE_FIND find = nullptr;
  ~DeviceSearchGuard() {
    if (find != nullptr) platform::BluetoothApi().BluetoothFindDeviceClose(find);
    if (radio != INVALID_HANDLE_VALUE) platform::Kernel().CloseHandle(radio);
  }
};
}  // namespace

std::string TQuorBluetoothConnection::GetRemoteName() {
  DeviceSearchGuard guard;
  guard.radio = Owner().GetRadioByAddress();
  if (guard.radio == INVALID_HANDLE_VALUE) return {};
  BLUETOOTH_DEVICE_SEARCH_PARAMS params{};
  params.dwSize = sizeof params;
  params.fReturnConnected = static_cast<BOOL>(0xFFFFFFFF);
  params.hRadio = guard.radio;
  BLUETOOTH_DEVICE_INFO info{};
  info.dwSize = sizeof info;
  auto& api = platform::BluetoothApi();
  guard.find = api.BluetoothFindFirstDevice(&params, &info);
  if (guard.find == nullptr) return {};
  for (;;) {
    const auto peer = static_cast<BTH_ADDR>(Owner().MakeAddressFromString(GetRemoteAddress()));
    if (peer == info.Address.ullLong) return NarrowName(info.szName, BLUETOOTH_MAX_NAME_SIZE);
    std::memset(&info, 0, sizeof info);
    info.dwSize = sizeof info;
    if (!api.BluetoothFindNextDevice(guard.find, &info)) return {};
  }
}

}  // namespace quorlink
