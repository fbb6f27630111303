#include "bluetooth/QuorBluetooth.h"
#include "platform/Kernel.h"
#include "platform/Winsock.h"
#include "platform/posix/BthAddressText.h"

namespace quorlink {

namespace {
[[noreturn]] void NotBuilt() {
  throw Exception("not built yet");
}
}  // namespace

void TQuorBluetooth::InternalConnect() {
  NotBuilt();
}
void TQuorBluetooth::InternalClose() {
  NotBuilt();
}
void TQuorBluetooth::InternalListen() {
  NotBuilt();
}
void TQuorBluetooth::InitWSA() {
  NotBuilt();
}
void TQuorBluetooth::FreeWSA() {
  NotBuilt();
}
void TQuorBluetooth::CreateSocket() {
  NotBuilt();
}
void TQuorBluetooth::FreeSocket() {
  NotBuilt();
}
void TQuorBluetooth::RegisterService(bool) {
  NotBuilt();
}
void TQuorBluetooth::QuorMSocketEvent(TQUORM_SOCKET_EVENT&) {
  NotBuilt();
}
std::string TQuorBluetooth::GetLocalAddress() {
  NotBuilt();
}
std::string TQuorBluetooth::GetLocalName() {
  NotBuilt();
}
HANDLE TQuorBluetooth::GetRadioByAddress() {
  NotBuilt();
}
std::string TQuorBluetooth::SelectDevice() {
  NotBuilt();
}
void TQuorBluetooth::Dispatch(TMessage& message) {
  TQuorCustomTransport::Dispatch(message);
}

}  // namespace quorlink

namespace quorlink::platform {

namespace {

class InterimWinsock final : public IWinsock {
 public:
  int WSAStartup(WORD, WSADATA*) override { return WSASYSNOTREADY; }
  int WSACleanup() override { return Fail(); }
  SOCKET socket(int, int, int) override {
    Fail();
    return INVALID_SOCKET;
  }
  int closesocket(SOCKET) override { return Fail(); }
  int bind(SOCKET, const SOCKADDR*, int) override { return Fail(); }
  int listen(SOCKET, int) override { return Fail(); }
  SOCKET accept(SOCKET, SOCKADDR*, int*) override {
    Fail();
    return INVALID_SOCKET;
  }
  int connect(SOCKET, const SOCKADDR*, int) override { return Fail(); }
  int send(SOCKET, const char*, int, int) override { return Fail(); }
  int recv(SOCKET, char*, int, int) override { return Fail(); }
  int WSAAsyncSelect(SOCKET, HWND, UINT, LONG) override { return Fail(); }
  INT WSASetServiceA(WSAQUERYSETA*, WSAESETSERVICEOP, DWORD) override { return Fail(); }
  int getsockname(SOCKET, SOCKADDR*, int*) override { return Fail(); }
  int getpeername(SOCKET, SOCKADDR*, int*) override { return Fail(); }
  int getsockopt(SOCKET, int, int, char*, int*) override { return Fail(); }
  INT WSAAddressToStringA(SOCKADDR* address, DWORD length, WSAPROTOCOL_INFOA*, char* text,
                          DWORD* textLength) override {
    return Result(posix::BthAddressToString(address, length, text, textLength));
  }
  INT WSAStringToAddressA(char* text, INT family, WSAPROTOCOL_INFOA*, SOCKADDR* address,
                          INT* length) override {
    return Result(posix::BthStringToAddress(text, family, address, length));
  }
  int WSAGetLastError() override { return static_cast<int>(Kernel().GetLastError()); }
  void WSASetLastError(int error) override { Kernel().SetLastError(static_cast<DWORD>(error)); }
  int __WSAFDIsSet(SOCKET s, fd_set* set) override {
    for (UINT i = 0; i < set->fd_count; ++i) {
      if (set->fd_array[i] == s) return 1;
    }
    return 0;
  }

 private:
  int Fail() { return Result(WSAENETDOWN); }
  int Result(int error) {
    if (error == 0) return 0;
    WSASetLastError(error);
    return SOCKET_ERROR;
  }
};

}  // namespace

IWinsock& OsWinsock() {
  static InterimWinsock* winsock = new InterimWinsock;
  return *winsock;
}

}  // namespace quorlink::platform
