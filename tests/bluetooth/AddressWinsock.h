// A Winsock for the address tests: the backend's text conversions, a
// getsockname that answers a chosen record or fails with a chosen error, and
// a count of every other call (there must be none).
#pragma once

#include <cstring>
#include <string>

#include "platform/Kernel.h"
#include "platform/Winsock.h"

namespace quorlink::testing {

class AddressWinsock final : public platform::IWinsock {
 public:
  // The backend's conversions, like Winsock's, need Winsock started.
  AddressWinsock() {
    WSADATA data;
    platform::OsWinsock().WSAStartup(0x0202, &data);
  }
  ~AddressWinsock() override { platform::OsWinsock().WSACleanup(); }
  AddressWinsock(const AddressWinsock&) = delete;
  AddressWinsock& operator=(const AddressWinsock&) = delete;

  SOCKADDR_BTH local{};
  int getsocknameError = 0;
  SOCKET lastSocket = 0;
  int lastLength = 0;
  int others = 0;
  int conversions = 0;
  std::string lastText;
  INT lastFamily = 0;
  WSAPROTOCOL_INFOA* lastProtocolInfo = reinterpret_cast<WSAPROTOCOL_INFOA*>(1);

  int WSAStartup(WORD, WSADATA*) override { return Other(); }
  int WSACleanup() override { return Other(); }
  SOCKET socket(int, int, int) override { return static_cast<SOCKET>(Other()); }
  int closesocket(SOCKET) override { return Other(); }
  int bind(SOCKET, const SOCKADDR*, int) override { return Other(); }
  int listen(SOCKET, int) override { return Other(); }
  SOCKET accept(SOCKET, SOCKADDR*, int*) override { return static_cast<SOCKET>(Other()); }
  int connect(SOCKET, const SOCKADDR*, int) override { return Other(); }
  int send(SOCKET, const char*, int, int) override { return Other(); }
  int recv(SOCKET, char*, int, int) override { return Other(); }
  int WSAAsyncSelect(SOCKET, HWND, UINT, LONG) override { return Other(); }
  INT WSASetServiceA(WSAQUERYSETA*, WSAESETSERVICEOP, DWORD) override { return Other(); }
  int getpeername(SOCKET, SOCKADDR*, int*) override { return Other(); }
  int getsockopt(SOCKET, int, int, char*, int*) override { return Other(); }
  int __WSAFDIsSet(SOCKET, win32::fd_set*) override { return Other(); }

  int getsockname(SOCKET s, SOCKADDR* name, int* length) override {
    lastSocket = s;
    lastLength = *length;
    if (getsocknameError != 0) {
      WSASetLastError(getsocknameError);
      return SOCKET_ERROR;
    }
    std::memcpy(name, &local, sizeof local);
    *length = sizeof local;
    return 0;
  }
  INT WSAAddressToStringA(SOCKADDR* a, DWORD l, WSAPROTOCOL_INFOA* p, char* t, DWORD* tl) override {
    return platform::OsWinsock().WSAAddressToStringA(a, l, p, t, tl);
  }
  INT WSAStringToAddressA(char* text, INT family, WSAPROTOCOL_INFOA* info, SOCKADDR* address,
                          INT* length) override {
    ++conversions;
    lastText = text;
    lastFamily = family;
    lastProtocolInfo = info;
    lastLength = *length;
    return platform::OsWinsock().WSAStringToAddressA(text, family, info, address, length);
  }
  int WSAGetLastError() override { return static_cast<int>(platform::Kernel().GetLastError()); }
  void WSASetLastError(int e) override { platform::Kernel().SetLastError(static_cast<DWORD>(e)); }

 private:
  int Other() {
    ++others;
    WSASetLastError(WSAENETDOWN);
    return SOCKET_ERROR;
  }
};

}  // namespace quorlink::testing
