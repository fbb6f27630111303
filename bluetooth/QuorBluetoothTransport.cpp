// TQuorBluetooth's Winsock side: start-up and release, the client's connect,
// the server's bind, record and listen, close, and the transport's socket
// notifications.
#include <exception>

#include "bluetooth/QuorBluetooth.h"
#include "bluetooth/QuorBluetoothConnection.h"
#include "core/SysUtils.h"
#include "platform/Kernel.h"
#include "platform/Winsock.h"

namespace quorlink {

namespace {
constexpr int kAddressLength = sizeof(SOCKADDR_BTH);
constexpr int kBacklog = 10;

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
  SocketHandle = platform::Winsock().socket(AF_BTH, win32::SOCK_STREAM, BTHPROTO_RFCOMM);
  if (SocketHandle == INVALID_SOCKET) {
    const DWORD error = platform::Kernel().GetLastError();
    FreeWSA();
    RaiseLastOSError(error);
  }
}

void TQuorBluetooth::FreeSocket() {
  if (SocketHandle == INVALID_SOCKET) return;
  platform::Winsock().closesocket(SocketHandle);
  SocketHandle = INVALID_SOCKET;
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
  csAddr.iSocketType = win32::SOCK_STREAM;
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
    case FD_ACCEPT: {
      SOCKET link = platform::Winsock().accept(SocketHandle, nullptr, nullptr);
      auto* connection = new TQuorBluetoothConnection(this, link);
      Connections->Add(connection);
      break;
    }
    case FD_CONNECT: {
      if (message.SelectError != 0) {
        // The attempt failed: no connection, and the transport closes.
        if (!Active || ServerMode) break;
        Close();
        RaiseLastOSError(message.SelectError);
      }
      auto* connection = new TQuorBluetoothConnection(this, SocketHandle);
      Connections->Add(connection);
      break;
    }
    default:
      break;
  }
}

void TQuorBluetooth::Dispatch(TMessage& message) {
  if (message.Msg != QUORM_SOCKET_EVENT) {
    TQuorCustomTransport::Dispatch(message);
    return;
  }
  TQUORM_SOCKET_EVENT record = TQUORM_SOCKET_EVENT::From(message);
  message.Result = 1;
  QuorMSocketEvent(record);
}

}  // namespace quorlink
