// TQuorBluetooth's Winsock side: start-up and release, the client's connect,
// the server's bind, record and listen, close, and the transport's socket
// notifications.
#include <chrono>
#include <exception>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothConnection.h"
#include "bluetooth/QuorBluetoothTimer.h"
#include "quorlink/core/SysUtils.h"
#include "platform/Kernel.h"
#include "platform/Winsock.h"

namespace quorlink {

namespace {
constexpr int kAddressLength = sizeof(SOCKADDR_BTH);
constexpr int kBacklog = 10;
// Posted by the accept back-off timer to the transport's window.
constexpr UINT QUORM_ACCEPT_RETRY = QUORM_SOCKET_EVENT + 1;
// Long enough that a server out of descriptors stays idle, short enough
// that a freed descriptor is used at once.
constexpr std::chrono::milliseconds kAcceptPause{200};
constexpr std::chrono::seconds kAcceptQuietSpell{30};

SOCKADDR* AsSockaddr(SOCKADDR_BTH& addr) {
  return reinterpret_cast<SOCKADDR*>(&addr);
}
}  // namespace

void TQuorBluetooth::InitWSA() {
  WSADATA data;
  const int result = platform::Winsock().WSAStartup(0x0202, &data);
  if (result == 0) {
    WinsockStarted = true;
    return;
  }
  switch (result) {
    case WSASYSNOTREADY:
      throw EQuorTransportException(_Str_WsaSysNotReady);
    case WSAVERNOTSUPPORTED:
      throw EQuorTransportException(_Str_WsaVerNotSupported);
    case WSAEINPROGRESS:
      throw EQuorTransportException(_Str_WsaEInProgress);
    case WSAEPROCLIM:
      throw EQuorTransportException(_Str_WsaEProcLim);
    case WSAEFAULT:
      throw EQuorTransportException(_Str_WsaEFault);
    default:
      throw EQuorTransportException(_Str_UnrecognizedError);
  }
}

void TQuorBluetooth::FreeWSA() {
  if (WinsockStarted) platform::Winsock().WSACleanup();
}

void TQuorBluetooth::CreateSocket() {
  InitWSA();
  SocketHandle = platform::Winsock().socket(AF_BTH, win32::kSockStream, BTHPROTO_RFCOMM);
  if (SocketHandle == INVALID_SOCKET) {
    const DWORD error = platform::Kernel().GetLastError();
    FreeWSA();
    RaiseLastOSError(error);
  }
}

void TQuorBluetooth::FreeSocket() {
  if (SocketHandle == INVALID_SOCKET) return;
  if (!LinkOwnsSocket) platform::Winsock().closesocket(SocketHandle);
  SocketHandle = INVALID_SOCKET;
  LinkOwnsSocket = false;
}

void TQuorBluetooth::InternalConnect() {
  CreateSocket();
  try {
    auto& winsock = platform::Winsock();
    if (winsock.WSAAsyncSelect(SocketHandle, WindowHandle, QUORM_SOCKET_EVENT, FD_CONNECT) != 0)
      RaiseLastOSError();
    SOCKADDR_BTH addr{};
    addr.addressFamily = AF_BTH;
    addr.btAddr = static_cast<BTH_ADDR>(MakeAddressFromString(Address));
    addr.serviceClassId = ServiceGUID;
    addr.port = 0;  // the remote radio finds the channel of the service class
    // A non-blocking connect reports would-block and ends in FD_CONNECT; any
    // other immediate failure ends the attempt here.
    if (winsock.connect(SocketHandle, AsSockaddr(addr), kAddressLength) != 0) {
      const int error = winsock.WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        winsock.WSAAsyncSelect(SocketHandle, WindowHandle, 0, 0);
        RaiseLastOSError(static_cast<DWORD>(error));
      }
    }
  } catch (...) {
    FreeSocket();
    FreeWSA();
    throw;
  }
}

void TQuorBluetooth::InternalListen() {
  CreateSocket();
  try {
    auto& winsock = platform::Winsock();
    SOCKADDR_BTH addr;
    MakeAddr(addr, false);
    if (winsock.bind(SocketHandle, AsSockaddr(addr), kAddressLength) != 0) RaiseLastOSError();
    RegisterService(true);
    try {
      if (winsock.WSAAsyncSelect(SocketHandle, WindowHandle, QUORM_SOCKET_EVENT, FD_ACCEPT) != 0)
        RaiseLastOSError();
      try {
        if (winsock.listen(SocketHandle, kBacklog) != 0) RaiseLastOSError();
      } catch (...) {
        winsock.WSAAsyncSelect(SocketHandle, WindowHandle, 0, 0);
        throw;
      }
    } catch (...) {
      // A failing removal replaces the first error.
      RegisterService(false);
      throw;
    }
  } catch (...) {
    FreeSocket();
    FreeWSA();
    throw;
  }
}

void TQuorBluetooth::RegisterService(bool doRegister) {
  SOCKADDR_BTH addr;
  MakeAddr(addr, true);
  CSADDR_INFO csAddr{};
  csAddr.LocalAddr.lpSockaddr = AsSockaddr(addr);
  csAddr.LocalAddr.iSockaddrLength = kAddressLength;
  csAddr.RemoteAddr.lpSockaddr = nullptr;
  csAddr.RemoteAddr.iSockaddrLength = 0;
  csAddr.iSocketType = win32::kSockStream;
  csAddr.iProtocol = BTHPROTO_RFCOMM;
  std::string name = ServiceName;
  std::string comment = ServiceComment;
  quorlink::GUID serviceClass = ServiceGUID;
  WSAQUERYSETA query{};
  query.dwSize = sizeof query;
  query.lpszServiceInstanceName = name.data();
  query.lpServiceClassId = &serviceClass;
  query.lpszComment = comment.data();
  query.dwNameSpace = NS_BTH;
  query.dwNumberOfCsAddrs = 1;
  query.lpcsaBuffer = &csAddr;
  if (platform::Winsock().WSASetServiceA(
          &query, doRegister ? RNRSERVICE_REGISTER : RNRSERVICE_DELETE, 0) != 0)
    RaiseLastOSError();
}

void TQuorBluetooth::InternalClose() {
  // Destroying a client's connection closes the transport again from in
  // here; that inner pass finds the list empty and finishes the close.
  // A raising OnDisconnect does not keep the other links open.
  std::exception_ptr error;
  while (!Announcing.empty()) {
    try {
      Announcing.back()->Abandon();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  while (Connections->Count() > 0) {
    try {
      Connections->Delete(0);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (SocketHandle == INVALID_SOCKET) {
    if (error) std::rethrow_exception(error);
    return;
  }
  if (ServerMode) {
    try {
      RegisterService(false);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (AcceptRetry) AcceptRetry->Cancel();
  AcceptPaused = false;
  AcceptFailureReported = false;
  FreeSocket();
  FreeWSA();
  if (error) std::rethrow_exception(error);
}

void TQuorBluetooth::QuorMSocketEvent(TQUORM_SOCKET_EVENT& message) {
  message.Result = 1;
  // A notification about an earlier socket of this transport, queued before
  // that socket was closed, must not act on the current one.
  if (SocketHandle != INVALID_SOCKET && message.Socket != SocketHandle) return;
  switch (message.SelectEvent) {
    case FD_ACCEPT:
      Accept();
      break;
    case FD_CONNECT: {
      if (message.SelectError != 0) {
        // The attempt failed: no connection, and the transport closes.
        if (!Active || ServerMode) break;
        Close();
        RaiseLastOSError(message.SelectError);
      }
      LinkConnected();
      break;
    }
    default:
      break;
  }
}

void TQuorBluetooth::Accept() {
  // A notification queued before the pause or the close finds nothing to do.
  if (!Active || !ServerMode || AcceptPaused) return;
  auto& winsock = platform::Winsock();
  const SOCKET link = winsock.accept(SocketHandle, nullptr, nullptr);
  if (link == INVALID_SOCKET) {
    const int error = winsock.WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return;  // the peer gave up before the accept
    // Out of descriptors, say: the peer waits in the queue, and accepting it
    // again at once would fail again at once.
    PauseAccepting();
    // Told once: again only after a quiet spell, not each time a freed
    // descriptor is taken and the next accept meets the limit again.
    const auto now = std::chrono::steady_clock::now();
    const bool told = AcceptFailureReported && now - LastAcceptFailure < kAcceptQuietSpell;
    AcceptFailureReported = true;
    LastAcceptFailure = now;
    if (!told) RaiseLastOSError(static_cast<DWORD>(error));
    return;
  }
  Adopt(new TQuorBluetoothConnection(this, link));
}

void TQuorBluetooth::LinkConnected() {
  // A repeated notification must not hand the socket over twice.
  if (LinkOwnsSocket) return;
  // From here the connection closes the socket, even when its constructor
  // fails; the transport only refers to it.
  LinkOwnsSocket = SocketHandle != INVALID_SOCKET;
  Adopt(new TQuorBluetoothConnection(this, SocketHandle));
}

void TQuorBluetooth::Adopt(TQuorBluetoothConnection* connection) {
  if (connection->IsAbandoned()) {
    Free(connection);
    return;
  }
  Connections->Add(connection);
}

void TQuorBluetooth::PauseAccepting() noexcept {
  if (AcceptPaused) return;
  AcceptPaused = true;
  platform::Winsock().WSAAsyncSelect(SocketHandle, WindowHandle, QUORM_SOCKET_EVENT, 0);
  try {
    if (!AcceptRetry) AcceptRetry = std::make_unique<bluetooth_detail::TQuorPostTimer>();
    AcceptRetry->Start(WindowHandle, QUORM_ACCEPT_RETRY, kAcceptPause);
  } catch (...) {
    // No timer: a link that ends is the only thing that resumes accepting.
  }
}

void TQuorBluetooth::ResumeAccepting() noexcept {
  if (!AcceptPaused || !Active || !ServerMode) return;
  AcceptPaused = false;
  if (AcceptRetry) AcceptRetry->Cancel();
  // A new request reports a link that is already waiting; when it cannot
  // be made, the next pause tries again.
  if (platform::Winsock().WSAAsyncSelect(SocketHandle, WindowHandle, QUORM_SOCKET_EVENT,
                                         FD_ACCEPT) != 0)
    PauseAccepting();
}

void TQuorBluetooth::LinkReleased() noexcept {
  // A released link frees a descriptor: worth an accept at once.
  if (AcceptPaused) ResumeAccepting();
}

void TQuorBluetooth::Dispatch(TMessage& message) {
  if (message.Msg == QUORM_ACCEPT_RETRY) {
    message.Result = 1;
    ResumeAccepting();
    return;
  }
  if (message.Msg != QUORM_SOCKET_EVENT) {
    TQuorCustomTransport::Dispatch(message);
    return;
  }
  TQUORM_SOCKET_EVENT record = TQUORM_SOCKET_EVENT::From(message);
  message.Result = 1;
  QuorMSocketEvent(record);
}

}  // namespace quorlink
