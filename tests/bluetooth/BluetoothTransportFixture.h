// A server and a client TQuorBluetooth on two virtual radios in one process,
// with every event and every exception that reaches the application hook
// recorded, and Winsock behind the fault decorator.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "OsTestSupport.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothConnection.h"
#include "quorlink/core/Classes.h"
#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"
#include "platform/virtual/VirtualRadio.h"
#include "support/FaultPlan.h"
#include "support/FaultyWinsock.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {

struct FreeObject {
  void operator()(TObject* object) const { Free(object); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeObject>;

// What one transport saw, in order.
struct EventLog {
  std::vector<std::string> events;  // "connect", "read", "disconnect"
  std::map<TQuorCustomConnection*, std::string> received;
  std::vector<std::size_t> readSizes;
  int connectCountInside = -1;  // ConnectionCount inside the last OnConnect

  void Attach(TQuorBluetooth& t) {
    t.OnConnect = [this, &t](TQuorCustomConnection* c) {
      events.push_back("connect");
      connectCountInside = t.ConnectionCount();
      received[c];
    };
    t.OnRead = [this](TQuorCustomConnection* c, const TQuorByteArray& buf) {
      events.push_back("read");
      readSizes.push_back(buf.size());
      received[c].append(buf.begin(), buf.end());
    };
    t.OnDisconnect = [this](TQuorCustomConnection*) { events.push_back("disconnect"); };
  }
  int Count(const std::string& e) const {
    int n = 0;
    for (const auto& x : events) n += x == e;
    return n;
  }
};

class BluetoothFixture : public ::testing::Test {
 protected:
  BluetoothFixture() {
    ApplicationHandleException = [this](TObject*) {
      try {
        throw;
      } catch (const EOSError& e) {
        errors.push_back("EOSError:" + std::to_string(e.ErrorCode));
      } catch (const Exception& e) {
        errors.push_back(e.Message());
      }
    };
    server.reset(new TQuorBluetooth(nullptr));
    client.reset(new TQuorBluetooth(nullptr));
    serverLog.Attach(*server);
    clientLog.Attach(*client);
    client->SetAddress(kServerText);
    handlesAtStart = testing::LiveHandleCount();
  }
  ~BluetoothFixture() override {
    client.reset();
    server.reset();
    // Background senders use the decorator below: they end first.
    WaitForBluetoothDrains();
    platform::Messages().ProcessMessage(0);
    ApplicationHandleException = nullptr;
  }

  void Listen() {
    platform::vradio::ScopedDefaultRadio radio(kServerRadio);
    server->Listen();
  }
  void StartConnect() {
    platform::vradio::ScopedDefaultRadio radio(kClientRadio);
    client->Connect();
  }
  // Client connected and the server's link accepted.
  void Link() {
    if (!server->IsActive()) Listen();
    const int before = server->ConnectionCount();
    StartConnect();
    ASSERT_TRUE(PumpUntil(
        [&] { return client->ConnectionCount() == 1 && server->ConnectionCount() == before + 1; }));
  }
  // A second client connecting to the server, beside the first.
  Owned<TQuorBluetooth> ConnectSecondClient() {
    Owned<TQuorBluetooth> second(new TQuorBluetooth(nullptr));
    second->SetAddress(kServerText);
    platform::vradio::ScopedDefaultRadio radio(kClientRadio);
    second->Connect();
    return second;
  }
  // ... and accepted by the server.
  Owned<TQuorBluetooth> LinkSecondClient() {
    const int before = server->ConnectionCount();
    Owned<TQuorBluetooth> second = ConnectSecondClient();
    EXPECT_TRUE(PumpUntil([&] { return server->ConnectionCount() == before + 1; }));
    return second;
  }
  TQuorBluetoothConnection& ClientLink() {
    return static_cast<TQuorBluetoothConnection&>(*client->GetConnections(0));
  }
  TQuorBluetoothConnection& ServerLink(int i = 0) {
    return static_cast<TQuorBluetoothConnection&>(*server->GetConnections(i));
  }
  static TQuorByteArray Bytes(const std::string& text) {
    return TQuorByteArray(text.begin(), text.end());
  }

  VirtualRadios radios;
  FaultPlan plan;
  FaultyWinsock winsock{plan};
  platform::ScopedWinsock scopedWinsock{winsock};
  Owned<TQuorBluetooth> server;
  Owned<TQuorBluetooth> client;
  EventLog serverLog;
  EventLog clientLog;
  std::vector<std::string> errors;
  std::size_t handlesAtStart = 0;
};

}  // namespace quorlink::testing
