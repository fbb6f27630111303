// A transport kind for exercising the transport core: its hooks count calls,
// can raise on demand, and its connections take test messages.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "quorlink/core/Application.h"
#include "quorlink/core/QuorCustomTransport.h"

namespace quorlink::testing {

constexpr UINT kTestReadMessage = WM_USER + 1;   // LParam: pointer to bytes
constexpr UINT kTestCloseMessage = WM_USER + 2;  // the link went away
// To the transport: raises Exception(LParam's text), or an int when LParam is 0.
constexpr UINT kTestRaiseMessage = WM_USER + 3;

class TestTransport;

class TestConnection final : public TQuorCustomConnection {
 public:
  explicit TestConnection(TQuorCustomTransport* transport) : TQuorCustomConnection(transport) {
    DoConnect();
    ++alive;  // a raising OnConnect leaves a half-built object, not a live one
  }
  ~TestConnection() override { --alive; }

  std::string GetLocalAddress() override { return "local-address"; }
  std::string GetLocalName() override { return "local-name"; }
  std::string GetRemoteAddress() override { return "remote-address"; }
  std::string GetRemoteName() override { return "remote-name"; }
  void Write(const TQuorByteArray& buf) override {
    written.insert(written.end(), buf.begin(), buf.end());
  }

  void Dispatch(TMessage& m) override {
    if (m.Msg == kTestReadMessage) {
      DoRead(*reinterpret_cast<const TQuorByteArray*>(m.LParam));
    } else if (m.Msg == kTestCloseMessage) {
      DeleteSelf();
    } else {
      TQuorCustomConnection::Dispatch(m);
    }
  }
  HWND Window() const { return WindowHandle; }

  TQuorByteArray written;
  static inline int alive = 0;
  static inline int disconnects = 0;

 protected:
  void Disconnect() override {
    ++disconnects;
    DoDisconnect();
  }
};

class TestTransport final : public TQuorCustomTransport {
 public:
  explicit TestTransport(TComponent* owner = nullptr) : TQuorCustomTransport(owner) {}
  ~TestTransport() override { DestroyTransport(); }

  TQuorTransportCategory GetCategory() const override { return tcIrDA; }
  std::string GetDescription() const override { return "Test Transport"; }
  TQuorTransportFlags GetFlags() const override {
    ++flagQueries;
    return flags;
  }

  // Made the way a kind makes them: constructed, then listed.
  TestConnection* AddConnection() {
    auto* c = new TestConnection(this);
    Connections->Add(c);
    return c;
  }

  TQuorTransportFlags flags{tfClient, tfServer};
  bool connectMakesConnection = true;
  std::function<void()> beforeInternalClose;
  bool raiseInInternalConnect = false;
  bool raiseInInternalListen = false;
  bool raiseInInternalClose = false;
  mutable int flagQueries = 0;
  int connectCalls = 0;
  int listenCalls = 0;
  int closeCalls = 0;

  void Dispatch(TMessage& m) override {
    if (m.Msg != kTestRaiseMessage) return TQuorCustomTransport::Dispatch(m);
    if (m.LParam == 0) throw 42;
    throw Exception(reinterpret_cast<const char*>(m.LParam));
  }

  using TQuorCustomTransport::CheckActive;
  using TQuorCustomTransport::CheckNotActive;
  HWND Window() const { return WindowHandle; }

 protected:
  void InternalConnect() override {
    ++connectCalls;
    if (raiseInInternalConnect) throw Exception("connect hook failed");
    if (connectMakesConnection) AddConnection();
  }
  void InternalListen() override {
    ++listenCalls;
    if (raiseInInternalListen) throw Exception("listen hook failed");
  }
  void InternalClose() override {
    ++closeCalls;
    if (beforeInternalClose) beforeInternalClose();
    if (raiseInInternalClose) throw Exception("close hook failed");
    Connections->Clear();
  }
};

// Handles every message waiting now.
inline void Pump() {
  Application().ProcessMessages();
}

}  // namespace quorlink::testing
