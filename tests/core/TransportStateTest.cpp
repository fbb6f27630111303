// The transport's state rules: Connect, Listen and Close from every state.
#include <gtest/gtest.h>

#include "support/TestTransport.h"

namespace quorlink::testing {
namespace {

template <class F>
std::string RaisedMessage(F f) {
  try {
    f();
  } catch (const EQuorTransportException& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

class TransportState : public ::testing::Test {
 protected:
  void SetUp() override {
    TestConnection::alive = 0;
    TestConnection::disconnects = 0;
  }
  void TearDown() override { EXPECT_EQ(TestConnection::alive, 0); }
};

TEST_F(TransportState, ConnectFromEveryState) {
  TestTransport t;
  t.Connect();
  EXPECT_TRUE(t.IsActive());
  EXPECT_FALSE(t.IsServerMode());
  EXPECT_EQ(t.connectCalls, 1);
  EXPECT_EQ(t.ConnectionCount(), 1);

  const int queries = t.flagQueries;
  t.Connect();  // active client: nothing, no error, flags not asked
  EXPECT_EQ(t.connectCalls, 1);
  EXPECT_EQ(t.flagQueries, queries);

  t.Close();
  t.Listen();
  EXPECT_EQ(RaisedMessage([&] { t.Connect(); }), "Transport in server mode.");
  EXPECT_TRUE(t.IsActive());
  EXPECT_TRUE(t.IsServerMode());
  EXPECT_EQ(t.connectCalls, 1);
}

TEST_F(TransportState, ConnectWithoutClientFlag) {
  TestTransport t;
  t.flags = TQuorTransportFlags{tfServer};
  EXPECT_EQ(RaisedMessage([&] { t.Connect(); }), "Future not supported.");
  EXPECT_FALSE(t.IsActive());
  EXPECT_EQ(t.connectCalls, 0);
}

TEST_F(TransportState, ListenFromEveryState) {
  TestTransport t;
  t.Listen();
  EXPECT_TRUE(t.IsActive());
  EXPECT_TRUE(t.IsServerMode());
  EXPECT_EQ(t.ConnectionCount(), 0);  // a server is active before any link

  t.Listen();
  EXPECT_EQ(t.listenCalls, 1);

  t.Close();
  t.Connect();
  EXPECT_EQ(RaisedMessage([&] { t.Listen(); }), "Transport in client mode.");
  EXPECT_TRUE(t.IsActive());
  EXPECT_FALSE(t.IsServerMode());
  EXPECT_EQ(t.ConnectionCount(), 1);  // keeps its connection
  EXPECT_EQ(t.listenCalls, 1);
}

TEST_F(TransportState, ListenWithoutServerFlag) {
  TestTransport t;
  t.flags = TQuorTransportFlags{tfClient};
  EXPECT_EQ(RaisedMessage([&] { t.Listen(); }), "Future not supported.");
  EXPECT_FALSE(t.IsActive());
  EXPECT_EQ(t.listenCalls, 0);
}

TEST_F(TransportState, FlagsAreAskedAfreshOnEveryInactiveCall) {
  TestTransport t;
  t.flags = TQuorTransportFlags{};
  EXPECT_THROW(t.Connect(), EQuorTransportException);
  t.flags = TQuorTransportFlags{tfClient};
  t.Connect();
  EXPECT_TRUE(t.IsActive());
}

TEST_F(TransportState, HookFailureLeavesTransportInactive) {
  TestTransport t;
  t.raiseInInternalConnect = true;
  EXPECT_THROW(t.Connect(), Exception);
  EXPECT_FALSE(t.IsActive());
  t.raiseInInternalListen = true;
  EXPECT_THROW(t.Listen(), Exception);
  EXPECT_FALSE(t.IsActive());
  EXPECT_FALSE(t.IsServerMode());
}

TEST_F(TransportState, CloseWhenInactiveDoesNothing) {
  TestTransport t;
  t.Close();
  t.Close();
  EXPECT_EQ(t.closeCalls, 0);
}

TEST_F(TransportState, CloseOfClientReentersInternalCloseQuietly) {
  TestTransport t;
  int disconnects = 0;
  t.OnDisconnect = [&](TQuorCustomConnection* sender) {
    ++disconnects;
    EXPECT_EQ(sender->GetLocalName(), "local-name");  // still whole
    EXPECT_TRUE(t.IsActive());
  };
  t.Connect();
  t.Close();
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(t.IsActive());
  EXPECT_EQ(t.ConnectionCount(), 0);
  EXPECT_EQ(t.closeCalls, 2);  // the connection's destruction closed again
  t.Close();
  EXPECT_EQ(t.closeCalls, 2);
}

TEST_F(TransportState, CloseOfServerDisconnectsEveryLink) {
  TestTransport t;
  int disconnects = 0;
  t.OnDisconnect = [&](TQuorCustomConnection*) { ++disconnects; };
  t.Listen();
  for (int i = 0; i < 3; ++i) t.AddConnection();
  t.Close();
  EXPECT_EQ(disconnects, 3);
  EXPECT_EQ(t.ConnectionCount(), 0);
  EXPECT_FALSE(t.IsActive());
  EXPECT_EQ(t.closeCalls, 1);
}

TEST_F(TransportState, InternalCloseFailureKeepsFlags) {
  TestTransport t;
  t.Listen();
  t.raiseInInternalClose = true;
  EXPECT_THROW(t.Close(), Exception);
  EXPECT_TRUE(t.IsActive());
  EXPECT_TRUE(t.IsServerMode());
  t.raiseInInternalClose = false;
  t.Close();
  EXPECT_FALSE(t.IsActive());
}

TEST_F(TransportState, ClosingOneServerLinkKeepsListening) {
  TestTransport t;
  t.Listen();
  auto* a = t.AddConnection();
  auto* b = t.AddConnection();
  a->Close();
  EXPECT_EQ(t.ConnectionCount(), 1);
  EXPECT_EQ(t.GetConnections(0), b);
  EXPECT_TRUE(t.IsActive());
  EXPECT_TRUE(t.IsServerMode());
}

TEST_F(TransportState, ClosingTheClientLinkClosesTheTransport) {
  TestTransport t;
  t.Connect();
  t.GetConnections(0)->Close();
  EXPECT_FALSE(t.IsActive());
  EXPECT_EQ(t.ConnectionCount(), 0);
  t.Connect();
  EXPECT_TRUE(t.IsActive());
  EXPECT_EQ(t.ConnectionCount(), 1);
}

TEST_F(TransportState, InsideOnConnectTheLinkIsNotListedYet) {
  TestTransport t;
  int seenCount = -1;
  t.OnConnect = [&](TQuorCustomConnection* c) {
    seenCount = t.ConnectionCount();
    EXPECT_FALSE(t.IsActive());
    c->Close();  // not listed: nothing happens
  };
  t.Connect();
  EXPECT_EQ(seenCount, 0);
  EXPECT_EQ(t.ConnectionCount(), 1);
  EXPECT_EQ(TestConnection::alive, 1);
  EXPECT_EQ(TestConnection::disconnects, 0);
}

TEST_F(TransportState, OnConnectRaisingUndoesTheHalfBuiltConnection) {
  TestTransport t;
  int disconnects = 0;
  t.OnDisconnect = [&](TQuorCustomConnection*) { ++disconnects; };
  t.OnConnect = [](TQuorCustomConnection*) { throw Exception("refused by handler"); };
  try {
    t.Connect();
    FAIL() << "Connect did not raise";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "refused by handler");
  }
  EXPECT_FALSE(t.IsActive());
  EXPECT_EQ(t.ConnectionCount(), 0);
  EXPECT_EQ(disconnects, 0);
  EXPECT_EQ(TestConnection::alive, 0);
}

TEST_F(TransportState, ConnectionWithoutTransportIsRefused) {
  try {
    TestConnection c(nullptr);
    FAIL() << "constructed without a transport";
  } catch (const EQuorTransportException& e) {
    EXPECT_EQ(e.Message(), "Invalid argument.");
  }
}

TEST_F(TransportState, IndexOutsideTheListRaisesTheListError) {
  TestTransport t;
  t.Connect();
  EXPECT_THROW(t.GetConnections(t.ConnectionCount()), EListError);
  EXPECT_THROW(t.GetConnections(-1), EListError);
}

TEST_F(TransportState, ConstantPropertiesIgnoreWrites) {
  TestTransport t;
  t.SetCategory(tcBluetooth);
  t.SetDescription("other");
  t.SetFlags(TQuorTransportFlags{});
  t.SetAbout("x");
  t.SetVersion(7);
  EXPECT_EQ(t.GetCategory(), tcIrDA);
  EXPECT_EQ(t.GetDescription(), "Test Transport");
  EXPECT_EQ(t.GetFlags(), (TQuorTransportFlags{tfClient, tfServer}));
  EXPECT_EQ(t.GetAbout(), "Quorlink Library");
  EXPECT_EQ(t.GetVersion(), 257);
}

TEST_F(TransportState, ChecksRaiseTheirMessages) {
  TestTransport t;
  EXPECT_NO_THROW(t.CheckActive());
  EXPECT_EQ(RaisedMessage([&] { t.CheckNotActive(); }), "Transport not active.");
  t.Listen();
  EXPECT_EQ(RaisedMessage([&] { t.CheckActive(); }), "Transport active.");
  EXPECT_NO_THROW(t.CheckNotActive());
}

}  // namespace
}  // namespace quorlink::testing
