// The Bluetooth transport on two virtual radios: states, links, bytes,
// the service record, addresses and names.
#include <gtest/gtest.h>

#include "bluetooth/BluetoothTransportFixture.h"

namespace quorlink::testing {
namespace {

using BluetoothTransport = BluetoothFixture;

TEST_F(BluetoothTransport, StatesFollowTheTable) {
  // inactive: no socket, no Winsock, no record.
  EXPECT_FALSE(client->IsActive());
  EXPECT_EQ(winsock.Startups(), 0);

  // connecting: active, Winsock held, one socket asking for FD_CONNECT.
  StartConnect();
  EXPECT_TRUE(client->IsActive());
  EXPECT_FALSE(client->IsServerMode());
  EXPECT_EQ(client->ConnectionCount(), 0);
  EXPECT_EQ(winsock.Startups(), 1);
  EXPECT_EQ(winsock.OpenSockets().size(), 1u);
  EXPECT_EQ(winsock.Masks().back(), FD_CONNECT);
  client->Close();

  // listening: server mode, record published, FD_ACCEPT requested.
  Listen();
  EXPECT_TRUE(server->IsActive());
  EXPECT_TRUE(server->IsServerMode());
  EXPECT_EQ(winsock.Masks().back(), FD_ACCEPT);
  EXPECT_EQ(platform::vradio::Services(kServerRadio).size(), 1u);

  // connected: the one connection shares the socket and asks for read/close.
  Link();
  // Client: one socket shared by transport and connection; server: the
  // listening socket and the accepted one.
  EXPECT_EQ(winsock.OpenSockets().size(), 3u);
  EXPECT_TRUE(winsock.OpenSockets().count(ClientLink().GetSocketHandle()));
  EXPECT_EQ(winsock.Masks().back(), FD_READ | FD_CLOSE);

  // back to inactive: everything released.
  client->Close();
  server->Close();
  EXPECT_EQ(winsock.Startups(), 0);
  EXPECT_TRUE(winsock.OpenSockets().empty());
  EXPECT_TRUE(platform::vradio::Services(kServerRadio).empty());
  EXPECT_TRUE(errors.empty());
}

TEST_F(BluetoothTransport, ConnectReturnsBeforeTheLinkAndOnConnectComesFromTheNotification) {
  Listen();
  StartConnect();
  EXPECT_TRUE(client->IsActive());
  EXPECT_EQ(client->ConnectionCount(), 0);
  EXPECT_TRUE(clientLog.events.empty());
  // The address asked for carries port 0 and the service class.
  SOCKADDR_BTH asked = winsock.Connected();
  EXPECT_EQ(+asked.port, 0u);
  EXPECT_EQ(+asked.btAddr, kServerRadio);
  EXPECT_EQ(GUID{asked.serviceClassId}, client->GetServiceGUID());
  ASSERT_TRUE(PumpUntil([&] { return client->ConnectionCount() == 1; }));
  EXPECT_EQ(clientLog.events, std::vector<std::string>{"connect"});
  EXPECT_EQ(clientLog.connectCountInside, 0);
}

TEST_F(BluetoothTransport, ServerLinksClosedByPeersOneByOneThenByClose) {
  Listen();
  std::vector<Owned<TQuorBluetooth>> peers;
  for (int i = 0; i < 3; ++i) {
    peers.emplace_back(new TQuorBluetooth(nullptr));
    peers.back()->SetAddress(kServerText);
    platform::vradio::ScopedDefaultRadio radio(kClientRadio);
    peers.back()->Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == i + 1; }));
  }
  ASSERT_TRUE(PumpUntil([&] {
    for (auto& p : peers)
      if (p->ConnectionCount() != 1) return false;
    return true;
  }));
  EXPECT_EQ(serverLog.Count("connect"), 3);

  // A peer closes: only its link goes, the server keeps listening.
  auto* survivor = server->GetConnections(2);
  peers[0]->Close();
  ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 2; }));
  EXPECT_EQ(serverLog.Count("disconnect"), 1);
  EXPECT_TRUE(server->IsActive());
  peers[1]->Close();
  ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 1; }));
  EXPECT_EQ(server->GetConnections(0), survivor);

  // Still accepting.
  peers[0]->Connect();
  ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 2; }));

  server->Close();
  EXPECT_EQ(serverLog.Count("disconnect"), 4);
  EXPECT_EQ(server->ConnectionCount(), 0);
  EXPECT_FALSE(server->IsActive());
  // The peers see their links end.
  ASSERT_TRUE(PumpUntil([&] { return !peers[0]->IsActive() && !peers[2]->IsActive(); }));
  peers.clear();
  EXPECT_TRUE(winsock.OpenSockets().empty());
  EXPECT_EQ(winsock.Startups(), 0);
}

TEST_F(BluetoothTransport, BigWriteArrivesAsReadsOfAtMost2048Bytes) {
  Link();
  std::string sent;
  for (int i = 0; i < 5000; ++i) sent.push_back(static_cast<char>('A' + i * 7 % 26));
  ClientLink().Write(Bytes(sent));
  auto* link = &ServerLink();
  ASSERT_TRUE(PumpUntil([&] { return serverLog.received[link].size() >= sent.size(); }));
  EXPECT_EQ(serverLog.received[link], sent);
  EXPECT_GE(serverLog.readSizes.size(), 3u);
  for (auto n : serverLog.readSizes) EXPECT_LE(n, 2048u);

  // And the other way, a single byte as an array of one.
  ServerLink().Write(Bytes("!"));
  auto* back = &ClientLink();
  ASSERT_TRUE(PumpUntil([&] { return !clientLog.received[back].empty(); }));
  EXPECT_EQ(clientLog.received[back], "!");
  EXPECT_EQ(clientLog.readSizes.back(), 1u);
}

TEST_F(BluetoothTransport, RecordCarriesTheBoundChannelAndGoesAtClose) {
  server->SetServiceName("Echo");
  server->SetServiceComment("an echo service");
  server->SetService("SerialPortServiceClass");
  Listen();
  auto records = platform::vradio::Services(kServerRadio);
  ASSERT_EQ(records.size(), 1u);
  SOCKADDR_BTH bound{};
  EXPECT_EQ(+winsock.Bound().port, BT_PORT_ANY);
  auto pubs = winsock.Publications();
  ASSERT_EQ(pubs.size(), 1u);
  EXPECT_EQ(pubs[0].operation, RNRSERVICE_REGISTER);
  bound = pubs[0].address;
  EXPECT_EQ(+bound.btAddr, kServerRadio);
  EXPECT_EQ(records[0].channel, +bound.port);
  EXPECT_GE(+bound.port, 1u);
  EXPECT_LE(+bound.port, 30u);
  EXPECT_EQ(records[0].name, "Echo");
  EXPECT_EQ(records[0].comment, "an echo service");
  EXPECT_EQ(records[0].serviceClass, server->GetServiceGUID());

  // A client finds the channel by class.
  client->SetService("SerialPortServiceClass");
  Link();

  server->Close();
  pubs = winsock.Publications();
  ASSERT_EQ(pubs.size(), 2u);
  EXPECT_EQ(pubs[1].operation, RNRSERVICE_DELETE);
  EXPECT_EQ(+pubs[1].address.port, +bound.port);
  EXPECT_TRUE(platform::vradio::Services(kServerRadio).empty());
}

TEST_F(BluetoothTransport, ConnectFindsOnlyTheClassThatIsOffered) {
  server->SetService("SerialPortServiceClass");
  Listen();
  client->SetService("HeadsetServiceClass");
  StartConnect();
  ASSERT_TRUE(PumpUntil([&] { return !client->IsActive(); }));
  EXPECT_EQ(client->ConnectionCount(), 0);
  EXPECT_EQ(server->ConnectionCount(), 0);
}

TEST_F(BluetoothTransport, LocalAndRemoteAddressesAndNames) {
  Link();
  auto& c = ClientLink();
  auto& s = ServerLink();
  const std::string serverLocal = server->GetLocalAddress();
  EXPECT_EQ(serverLocal.substr(0, 19), kServerText);
  EXPECT_EQ(s.GetLocalAddress(), serverLocal);
  EXPECT_EQ(c.GetLocalAddress().substr(0, 19), kClientText);
  EXPECT_EQ(c.GetRemoteAddress().substr(0, 19), kServerText);
  EXPECT_EQ(s.GetRemoteAddress().substr(0, 19), kClientText);

  EXPECT_EQ(server->GetLocalName(), "Server radio");
  EXPECT_EQ(s.GetLocalName(), "Server radio");
  EXPECT_EQ(c.GetLocalName(), "Client radio");
  EXPECT_EQ(c.GetRemoteName(), "Server radio");
  EXPECT_EQ(s.GetRemoteName(), "Client radio");
  // Every radio and search handle went back.
  EXPECT_EQ(testing::LiveHandleCount(), handlesAtStart);
}

TEST_F(BluetoothTransport, RadioByAddressPicksTheSocketsRadio) {
  Listen();
  HANDLE radio = server->GetRadioByAddress();
  ASSERT_NE(radio, INVALID_HANDLE_VALUE);
  BLUETOOTH_RADIO_INFO info{};
  info.dwSize = sizeof info;
  ASSERT_EQ(platform::BluetoothApi().BluetoothGetRadioInfo(radio, &info), ERROR_SUCCESS);
  EXPECT_EQ(info.address.ullLong, kServerRadio);
  platform::Kernel().CloseHandle(radio);
  EXPECT_EQ(testing::LiveHandleCount(), handlesAtStart);
}

TEST_F(BluetoothTransport, InactiveTransportHasNoLocalAddressOrName) {
  for (auto call : {+[](TQuorBluetooth& t) { t.GetLocalAddress(); },
                    +[](TQuorBluetooth& t) { t.GetLocalName(); }}) {
    plan.ClearCalls();
    try {
      call(*server);
      ADD_FAILURE() << "no error";
    } catch (const EQuorTransportException& e) {
      EXPECT_EQ(e.Message(), "Transport not active.");
    }
    EXPECT_TRUE(plan.Calls().empty());
  }
}

TEST_F(BluetoothTransport, SelectDeviceReturnsTheChosenAddressText) {
  std::vector<platform::BluetoothDeviceChoice> offered;
  auto previous = platform::SetDevicePicker([&](const auto& devices) {
    offered = devices;
    for (std::size_t i = 0; i < devices.size(); ++i)
      if (devices[i].address == kServerRadio) return static_cast<int>(i);
    return -1;
  });
  EXPECT_EQ(client->SelectDevice(), kServerText);
  EXPECT_EQ(offered.size(), 2u);
  platform::SetDevicePicker([](const auto&) { return -1; });
  EXPECT_EQ(client->SelectDevice(), "");
  platform::SetDevicePicker(previous);
  EXPECT_EQ(winsock.Startups(), 0);
  EXPECT_EQ(testing::LiveHandleCount(), handlesAtStart);
}

TEST_F(BluetoothTransport, SelectDeviceWhileConnectedKeepsWinsockForTheTransport) {
  Link();
  auto previous = platform::SetDevicePicker([](const auto&) { return 0; });
  EXPECT_EQ(winsock.Startups(), 2);  // the server's and the client's
  client->SelectDevice();
  platform::SetDevicePicker(previous);
  EXPECT_EQ(winsock.Startups(), 2);
  ClientLink().Write(Bytes("still up"));
  client->Close();
  EXPECT_EQ(winsock.Startups(), 1);
  server->Close();
  EXPECT_EQ(winsock.Startups(), 0);
}

TEST_F(BluetoothTransport, ClientEndsWhenThePeerClosesTheLink) {
  Link();
  server->Close();
  ASSERT_TRUE(PumpUntil([&] { return !client->IsActive(); }));
  EXPECT_EQ(clientLog.Count("disconnect"), 1);
  EXPECT_EQ(client->ConnectionCount(), 0);
  EXPECT_TRUE(winsock.OpenSockets().empty());
  EXPECT_EQ(winsock.Startups(), 0);
  // It connects again.
  Link();
}

TEST_F(BluetoothTransport, OtherNotificationsChangeNothing) {
  Link();
  auto message = [](SOCKET s, LONG event) {
    return TMessage{QUORM_SOCKET_EVENT, static_cast<WPARAM>(s), static_cast<LPARAM>(event), 0};
  };
  const SOCKET linkSocket = ServerLink().GetSocketHandle();
  for (LONG event : {FD_READ, FD_WRITE, FD_CLOSE, 0x40}) {
    TMessage m = message(linkSocket, event);
    server->Dispatch(m);
    EXPECT_EQ(m.Result, 1);
  }
  for (LONG event : {FD_ACCEPT, FD_CONNECT, 0x40}) {
    TMessage m = message(linkSocket, event);
    ServerLink().Dispatch(m);
    EXPECT_EQ(m.Result, 1);
  }
  EXPECT_EQ(server->ConnectionCount(), 1);
  EXPECT_EQ(client->ConnectionCount(), 1);
  EXPECT_TRUE(serverLog.events == std::vector<std::string>{"connect"});
}

TEST_F(BluetoothTransport, ConnectNotificationAfterCloseMakesNoConnection) {
  StartConnect();
  client->Close();
  TMessage m{QUORM_SOCKET_EVENT, 0, FD_CONNECT, 0};
  try {
    client->Dispatch(m);
    ADD_FAILURE() << "no error";
  } catch (const EQuorTransportException& e) {
    EXPECT_EQ(e.Message(), "Invalid argument.");
  }
  EXPECT_EQ(client->ConnectionCount(), 0);
  EXPECT_FALSE(client->IsActive());
  EXPECT_TRUE(clientLog.events.empty());
  EXPECT_EQ(winsock.Startups(), 0);
}

}  // namespace
}  // namespace quorlink::testing
