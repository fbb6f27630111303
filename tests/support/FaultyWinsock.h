// A Winsock decorator: records calls, fails a chosen one, and keeps what the
// transport tests check: open sockets, start-ups, published records.
#pragma once

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Winsock.h"
#include "support/FaultPlan.h"

namespace quorlink::testing {

class FaultyWinsock final : public platform::IWinsock {
 public:
  struct Publication {
    WSAESETSERVICEOP operation;
    std::string name;
    std::string comment;
    quorlink::GUID serviceClass;
    SOCKADDR_BTH address;
  };

  explicit FaultyWinsock(FaultPlan& plan) : plan_(plan), inner_(platform::OsWinsock()) {}

  int WSAStartup(WORD version, WSADATA* data) override {
    if (plan_.Hit("WSAStartup")) return static_cast<int>(plan_.Error());
    int r = inner_.WSAStartup(version, data);
    if (r == 0) Add(startups_, 1);
    return r;
  }
  int WSACleanup() override {
    if (plan_.Hit("WSACleanup")) return Fail(SOCKET_ERROR);
    int r = inner_.WSACleanup();
    if (r == 0) Add(startups_, -1);
    return r;
  }
  SOCKET socket(int af, int type, int protocol) override {
    if (plan_.Hit("socket")) return Fail(INVALID_SOCKET);
    SOCKET s = inner_.socket(af, type, protocol);
    Opened(s);
    return s;
  }
  int closesocket(SOCKET s) override {
    {
      std::lock_guard lock(mutex_);
      closed_.push_back(s);
      open_.erase(s);
      accepted_.erase(s);
    }
    if (plan_.Hit("closesocket")) return Fail(SOCKET_ERROR);
    return inner_.closesocket(s);
  }
  int bind(SOCKET s, const SOCKADDR* name, int length) override {
    if (name != nullptr && length >= 30) {
      std::lock_guard lock(mutex_);
      std::memcpy(&bound_, name, sizeof bound_);
    }
    if (plan_.Hit("bind")) return Fail(SOCKET_ERROR);
    return inner_.bind(s, name, length);
  }
  int listen(SOCKET s, int backlog) override {
    if (plan_.Hit("listen")) return Fail(SOCKET_ERROR);
    return inner_.listen(s, backlog);
  }
  SOCKET accept(SOCKET s, SOCKADDR* address, int* length) override {
    if (plan_.Hit("accept")) return Fail(INVALID_SOCKET);
    SOCKET r = inner_.accept(s, address, length);
    Opened(r);
    if (r != INVALID_SOCKET) {
      std::lock_guard lock(mutex_);
      accepted_.insert(r);
    }
    return r;
  }
  int connect(SOCKET s, const SOCKADDR* name, int length) override {
    if (name != nullptr && length >= 30) {
      std::lock_guard lock(mutex_);
      std::memcpy(&connected_, name, sizeof connected_);
    }
    if (plan_.Hit("connect")) return Fail(SOCKET_ERROR);
    return inner_.connect(s, name, length);
  }
  int send(SOCKET s, const char* buffer, int length, int flags) override {
    if (plan_.Hit("send")) return Fail(SOCKET_ERROR);
    int cap = sendCap_;
    return inner_.send(s, buffer, cap > 0 && length > cap ? cap : length, flags);
  }
  int recv(SOCKET s, char* buffer, int length, int flags) override {
    if (plan_.Hit("recv")) return Fail(SOCKET_ERROR);
    return inner_.recv(s, buffer, length, flags);
  }
  int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG mask) override {
    {
      std::lock_guard lock(mutex_);
      masks_.push_back(mask);
    }
    // "WSAAsyncSelect@accepted": a link the server accepted, whichever end's
    // notification the system delivers first.
    if (plan_.Hit("WSAAsyncSelect", Accepted(s) ? "accepted" : "")) return Fail(SOCKET_ERROR);
    return inner_.WSAAsyncSelect(s, window, message, mask);
  }
  INT WSASetServiceA(WSAQUERYSETA* qs, WSAESETSERVICEOP op, DWORD flags) override {
    if (qs != nullptr) {
      Publication p{op, qs->lpszServiceInstanceName ? qs->lpszServiceInstanceName : "",
                    qs->lpszComment ? qs->lpszComment : "",
                    qs->lpServiceClassId ? *qs->lpServiceClassId : quorlink::GUID{},
                    SOCKADDR_BTH{}};
      if (qs->lpcsaBuffer && qs->lpcsaBuffer->LocalAddr.lpSockaddr)
        std::memcpy(&p.address, qs->lpcsaBuffer->LocalAddr.lpSockaddr, sizeof p.address);
      std::lock_guard lock(mutex_);
      publications_.push_back(p);
    }
    if (plan_.Hit("WSASetServiceA")) return Fail(SOCKET_ERROR);
    return inner_.WSASetServiceA(qs, op, flags);
  }
  int getsockname(SOCKET s, SOCKADDR* name, int* length) override {
    if (plan_.Hit("getsockname")) return Fail(SOCKET_ERROR);
    return inner_.getsockname(s, name, length);
  }
  int getpeername(SOCKET s, SOCKADDR* name, int* length) override {
    if (plan_.Hit("getpeername")) return Fail(SOCKET_ERROR);
    return inner_.getpeername(s, name, length);
  }
  int getsockopt(SOCKET s, int level, int option, char* value, int* length) override {
    if (plan_.Hit("getsockopt")) return Fail(SOCKET_ERROR);
    return inner_.getsockopt(s, level, option, value, length);
  }
  INT WSAAddressToStringA(SOCKADDR* a, DWORD n, WSAPROTOCOL_INFOA* info, char* text,
                          DWORD* length) override {
    if (plan_.Hit("WSAAddressToStringA")) return Fail(SOCKET_ERROR);
    if (!addressText_.empty() && text != nullptr && length != nullptr) {
      std::strncpy(text, addressText_.c_str(), *length);
      return 0;
    }
    return inner_.WSAAddressToStringA(a, n, info, text, length);
  }
  INT WSAStringToAddressA(char* text, INT family, WSAPROTOCOL_INFOA* info, SOCKADDR* a,
                          INT* length) override {
    if (plan_.Hit("WSAStringToAddressA")) return Fail(SOCKET_ERROR);
    return inner_.WSAStringToAddressA(text, family, info, a, length);
  }
  int WSAGetLastError() override { return inner_.WSAGetLastError(); }
  void WSASetLastError(int error) override { inner_.WSASetLastError(error); }
  int __WSAFDIsSet(SOCKET s, win32::fd_set* set) override { return inner_.__WSAFDIsSet(s, set); }

  // Makes every send take at most this many bytes (0: no limit).
  void CapSends(int bytes) { sendCap_ = bytes; }
  // Makes WSAAddressToStringA write this text (empty: the real one).
  void ForceAddressText(std::string text) { addressText_ = std::move(text); }

  int Startups() const {
    std::lock_guard lock(mutex_);
    return startups_;
  }
  std::set<SOCKET> OpenSockets() const {
    std::lock_guard lock(mutex_);
    return open_;
  }
  std::vector<SOCKET> Closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
  }
  std::vector<Publication> Publications() const {
    std::lock_guard lock(mutex_);
    return publications_;
  }
  std::vector<LONG> Masks() const {
    std::lock_guard lock(mutex_);
    return masks_;
  }
  SOCKADDR_BTH Bound() const {
    std::lock_guard lock(mutex_);
    return bound_;
  }
  SOCKADDR_BTH Connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
  }

 private:
  template <class T>
  T Fail(T value) {
    inner_.WSASetLastError(static_cast<int>(plan_.Error()));
    return value;
  }
  void Add(int& counter, int delta) {
    std::lock_guard lock(mutex_);
    counter += delta;
  }
  bool Accepted(SOCKET s) const {
    std::lock_guard lock(mutex_);
    return accepted_.count(s) > 0;
  }
  void Opened(SOCKET s) {
    if (s == INVALID_SOCKET) return;
    std::lock_guard lock(mutex_);
    open_.insert(s);
  }

  FaultPlan& plan_;
  platform::IWinsock& inner_;
  mutable std::mutex mutex_;
  int startups_ = 0;
  std::set<SOCKET> open_;
  std::set<SOCKET> accepted_;
  std::vector<SOCKET> closed_;
  std::vector<Publication> publications_;
  std::vector<LONG> masks_;
  SOCKADDR_BTH bound_{};
  SOCKADDR_BTH connected_{};
  int sendCap_ = 0;
  std::string addressText_;
};

}  // namespace quorlink::testing
