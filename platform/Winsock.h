// Windows Sockets 2 with the Bluetooth family and name space, as the library
// calls it. Failures return SOCKET_ERROR (or INVALID_SOCKET) and leave the
// Winsock error as the thread's last error, which is the kernel's last error,
// as on Windows, so RaiseLastOSError reports it.
#pragma once

#include "quorlink/platform/ApiSlot.h"
#include "quorlink/platform/BluetoothTypes.h"
#include "quorlink/platform/Types.h"

namespace quorlink {

namespace platform {

class IWinsock {
 public:
  virtual ~IWinsock() = default;

  // Returns 0 or the error code (the last error is not set).
  virtual int WSAStartup(WORD versionRequested, WSADATA* data) = 0;
  virtual int WSACleanup() = 0;

  virtual SOCKET socket(int af, int type, int protocol) = 0;
  virtual int closesocket(SOCKET s) = 0;
  virtual int bind(SOCKET s, const SOCKADDR* name, int nameLength) = 0;
  virtual int listen(SOCKET s, int backlog) = 0;
  virtual SOCKET accept(SOCKET s, SOCKADDR* address, int* addressLength) = 0;
  virtual int connect(SOCKET s, const SOCKADDR* name, int nameLength) = 0;
  virtual int send(SOCKET s, const char* buffer, int length, int flags) = 0;
  virtual int recv(SOCKET s, char* buffer, int length, int flags) = 0;

  // Posts message to window for the events in eventMask; 0 cancels, a new
  // request replaces the old one, and the socket is non-blocking from then on.
  virtual int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG eventMask) = 0;
  virtual INT WSASetServiceA(WSAQUERYSETA* registration, WSAESETSERVICEOP operation,
                             DWORD controlFlags) = 0;

  virtual int getsockname(SOCKET s, SOCKADDR* name, int* nameLength) = 0;
  virtual int getpeername(SOCKET s, SOCKADDR* name, int* nameLength) = 0;
  virtual int getsockopt(SOCKET s, int level, int option, char* value, int* valueLength) = 0;

  virtual INT WSAAddressToStringA(SOCKADDR* address, DWORD addressLength,
                                  WSAPROTOCOL_INFOA* protocolInfo, char* addressString,
                                  DWORD* addressStringLength) = 0;
  virtual INT WSAStringToAddressA(char* addressString, INT addressFamily,
                                  WSAPROTOCOL_INFOA* protocolInfo, SOCKADDR* address,
                                  INT* addressLength) = 0;

  virtual int WSAGetLastError() = 0;
  virtual void WSASetLastError(int error) = 0;
  virtual int __WSAFDIsSet(SOCKET s, win32::fd_set* set) = 0;
};

IWinsock& Winsock();
IWinsock& OsWinsock();  // defined by the build's OS backend
IWinsock* SetWinsock(IWinsock* api);
using ScopedWinsock = ScopedApi<IWinsock, SetWinsock>;

}  // namespace platform
}  // namespace quorlink
