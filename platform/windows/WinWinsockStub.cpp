// Placeholder until the Windows Winsock backend is built: start-up succeeds,
// every socket call fails with WSAEOPNOTSUPP.
#include "platform/Winsock.h"

namespace quorlink::platform {

namespace {

class WinsockStub final : public IWinsock {
 public:
  int WSAStartup(WORD, WSADATA* data) override {
    if (data != nullptr) *data = WSADATA{};
    return 0;
  }
  int WSACleanup() override { return 0; }
  SOCKET socket(int, int, int) override { return FailSocket(); }
  int closesocket(SOCKET) override { return Fail(); }
  int bind(SOCKET, const SOCKADDR*, int) override { return Fail(); }
  int listen(SOCKET, int) override { return Fail(); }
  SOCKET accept(SOCKET, SOCKADDR*, int*) override { return FailSocket(); }
  int connect(SOCKET, const SOCKADDR*, int) override { return Fail(); }
  int send(SOCKET, const char*, int, int) override { return Fail(); }
  int recv(SOCKET, char*, int, int) override { return Fail(); }
  int WSAAsyncSelect(SOCKET, HWND, UINT, LONG) override { return Fail(); }
  INT WSASetServiceA(WSAQUERYSETA*, WSAESETSERVICEOP, DWORD) override { return Fail(); }
  int getsockname(SOCKET, SOCKADDR*, int*) override { return Fail(); }
  int getpeername(SOCKET, SOCKADDR*, int*) override { return Fail(); }
  int getsockopt(SOCKET, int, int, char*, int*) override { return Fail(); }
  INT WSAAddressToStringA(SOCKADDR*, DWORD, WSAPROTOCOL_INFOA*, char*, DWORD*) override {
    return Fail();
  }
  INT WSAStringToAddressA(char*, INT, WSAPROTOCOL_INFOA*, SOCKADDR*, INT*) override {
    return Fail();
  }
  int WSAGetLastError() override { return static_cast<int>(::GetLastError()); }
  void WSASetLastError(int error) override { ::SetLastError(static_cast<DWORD>(error)); }
  int __WSAFDIsSet(SOCKET s, win32::fd_set* set) override {
    for (u_int i = 0; set != nullptr && i < set->fd_count; ++i)
      if (set->fd_array[i] == s) return 1;
    return 0;
  }

 private:
  static int Fail() {
    ::SetLastError(WSAEOPNOTSUPP);
    return SOCKET_ERROR;
  }
  static SOCKET FailSocket() {
    ::SetLastError(WSAEOPNOTSUPP);
    return INVALID_SOCKET;
  }
};

}  // namespace

IWinsock& OsWinsock() {
  static WinsockStub winsock;
  return winsock;
}

}  // namespace quorlink::platform
