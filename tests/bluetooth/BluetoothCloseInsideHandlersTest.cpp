// Closing the transport from inside a link's own events: whatever the
// handler closes is closed when its call returns, and nothing is left open.
#include <gtest/gtest.h>

#include "bluetooth/BluetoothTransportFixture.h"

namespace quorlink::testing {
namespace {

using BluetoothCloseInsideHandlers = BluetoothFixture;

// The server closes itself from the OnDisconnect of a link that its own
// Close, or the peer's close, is taking down. Every accepted socket closes,
// so each peer sees its link end.
TEST_F(BluetoothCloseInsideHandlers, ServerClosedFromOnDisconnectClosesEveryLink) {
  for (const bool byPeer : {false, true}) {
    SCOPED_TRACE(byPeer ? "the peer closes" : "the server closes");
    server->OnDisconnect = [&](TQuorCustomConnection*) {
      serverLog.events.push_back("disconnect");
      server->Close();
    };
    Link();
    Owned<TQuorBluetooth> second = LinkSecondClient();
    ASSERT_EQ(server->ConnectionCount(), 2);
    if (byPeer) {
      client->Close();
    } else {
      server->Close();
    }
    ASSERT_TRUE(PumpUntil([&] { return !server->IsActive(); }));
    EXPECT_EQ(server->ConnectionCount(), 0);
    // The peers are told: the server's sockets are gone.
    EXPECT_TRUE(PumpUntil([&] { return !client->IsActive() && !second->IsActive(); }));
    second.reset();
    EXPECT_TRUE(winsock.OpenSockets().empty());
    EXPECT_EQ(winsock.Startups(), 0);
    EXPECT_EQ(serverLog.Count("disconnect"), 2) << "each link once";
    serverLog.events.clear();
  }
}

// The server closes itself from the OnConnect of a new link: the accepted
// socket closes with it, the list stays empty, and listening again works.
TEST_F(BluetoothCloseInsideHandlers, ServerClosedFromOnConnectLeavesNothingOpen) {
  server->OnConnect = [&](TQuorCustomConnection* c) {
    serverLog.events.push_back("connect");
    c->Write(Bytes("busy"));
    server->Close();
  };
  Listen();
  StartConnect();
  ASSERT_TRUE(PumpUntil([&] { return serverLog.Count("connect") == 1; }));
  EXPECT_FALSE(server->IsActive());
  EXPECT_EQ(server->ConnectionCount(), 0);
  EXPECT_EQ(serverLog.Count("disconnect"), 1) << "the abandoned link once";
  // The client hears what was written, then its link end.
  ASSERT_TRUE(PumpUntil([&] { return !client->IsActive(); }));
  EXPECT_EQ(clientLog.received.begin()->second, "busy");
  WaitForBluetoothDrains();
  EXPECT_TRUE(winsock.OpenSockets().empty());
  EXPECT_EQ(winsock.Startups(), 0);

  serverLog.events.clear();
  serverLog.Attach(*server);
  Link();
  EXPECT_EQ(server->ConnectionCount(), 1);
  EXPECT_EQ(serverLog.Count("connect"), 1);
}

// The client closes itself from OnConnect, once as is and once connecting
// again at once: no dead connection stays listed, the socket closes, and
// the next link is the only one.
TEST_F(BluetoothCloseInsideHandlers, ClientClosedFromOnConnectLeavesNoDeadConnection) {
  Listen();
  for (const bool reconnect : {false, true}) {
    SCOPED_TRACE(reconnect ? "and connects again" : "and stays closed");
    int connects = 0;
    client->OnConnect = [&](TQuorCustomConnection*) {
      if (++connects > 1) return;
      client->Close();
      if (reconnect) StartConnect();
    };
    StartConnect();
    ASSERT_TRUE(PumpUntil([&] { return connects >= 1; }));
    EXPECT_EQ(client->ConnectionCount(), 0);
    EXPECT_EQ(client->IsActive(), reconnect);
    if (!reconnect) {
      // The server sees the link end: the client's socket is closed.
      ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 0; }));
      EXPECT_EQ(winsock.OpenSockets().size(), 1u);  // the listening socket
      StartConnect();
    }
    ASSERT_TRUE(PumpUntil([&] { return client->ConnectionCount() == 1; }));
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(client->ConnectionCount(), 1);
    ClientLink().Write(Bytes("alive"));
    ASSERT_TRUE(PumpUntil([&] {
      for (const auto& [c, text] : serverLog.received)
        if (text == "alive") return true;
      return false;
    }));
    client->Close();
    ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 0; }));
    EXPECT_EQ(winsock.OpenSockets().size(), 1u);
    serverLog.received.clear();
  }
}

}  // namespace
}  // namespace quorlink::testing
