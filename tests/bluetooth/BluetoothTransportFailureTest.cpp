// Every failing platform call of the Bluetooth transport, connection and
// discovery, made to fail through the decorators; and the cases where the
// transport has to be sounder than a literal reading would make it.
#include <gtest/gtest.h>

#include <functional>

#include "OsTestSupport.h"
#include "bluetooth/BluetoothTransportFixture.h"
#include "support/FaultyBluetoothApi.h"

namespace quorlink::testing {
namespace {

class BluetoothTransportFailure : public BluetoothFixture {
 protected:
  // Runs fn expecting an exception; returns "EOSError:<code>" or the message.
  std::string Raised(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const EOSError& e) {
      return "EOSError:" + std::to_string(e.ErrorCode);
    } catch (const Exception& e) {
      return e.Message();
    }
    return "nothing raised";
  }
  void ExpectNothingHeld() {
    EXPECT_EQ(winsock.Startups(), 0);
    EXPECT_TRUE(winsock.OpenSockets().empty());
    EXPECT_TRUE(platform::vradio::Services(kServerRadio).empty());
  }
  FaultyBluetoothApi bluetooth{plan};
  platform::ScopedBluetoothApi scopedBluetooth{bluetooth};
};

TEST_F(BluetoothTransportFailure, StartupErrorsMapToTheirMessages) {
  plan.FailCall("WSAStartup", WSASYSNOTREADY);
  EXPECT_EQ(Raised([&] { StartConnect(); }),
            "Underlying network subsystem is not ready for network communication.");
  EXPECT_EQ(plan.Calls(), std::vector<std::string>{"WSAStartup"});
  plan.FailCall("WSAStartup", 12345);
  EXPECT_EQ(Raised([&] { Listen(); }), "Unrecognized error.");
  EXPECT_FALSE(server->IsActive());
  ExpectNothingHeld();
}

TEST_F(BluetoothTransportFailure, ConnectFailuresReleaseEverything) {
  for (const char* call : {"socket", "WSAAsyncSelect", "WSAStringToAddressA", "connect"}) {
    SCOPED_TRACE(call);
    plan.FailCall(call, WSAENETDOWN);
    EXPECT_EQ(Raised([&] { StartConnect(); }), "EOSError:10050");
    EXPECT_FALSE(client->IsActive());
    ExpectNothingHeld();
  }
  client->SetAddress(kServerText);
}

TEST_F(BluetoothTransportFailure, ListenFailuresReleaseEverything) {
  for (const char* call :
       {"socket", "bind", "getsockname", "WSASetServiceA", "WSAAsyncSelect", "listen"}) {
    SCOPED_TRACE(call);
    plan.FailCall(call, WSAENETDOWN);
    plan.ClearCalls();
    EXPECT_EQ(Raised([&] { Listen(); }), "EOSError:10050");
    EXPECT_FALSE(server->IsActive());
    ExpectNothingHeld();
  }
}

TEST_F(BluetoothTransportFailure, FailedListenCancelsNotificationAndRemovesRecord) {
  plan.FailCall("listen", WSAEADDRINUSE);
  EXPECT_EQ(Raised([&] { Listen(); }), "EOSError:10048");
  auto masks = winsock.Masks();
  ASSERT_EQ(masks.size(), 2u);
  EXPECT_EQ(masks[0], FD_ACCEPT);
  EXPECT_EQ(masks[1], 0);
  auto pubs = winsock.Publications();
  ASSERT_EQ(pubs.size(), 2u);
  EXPECT_EQ(pubs[1].operation, RNRSERVICE_DELETE);
  ExpectNothingHeld();
}

TEST_F(BluetoothTransportFailure, RecordRemovalErrorReplacesTheFirstAndStillReleases) {
  plan.FailCall("WSASetServiceA", WSAEACCES, 0);  // publication and removal
  EXPECT_EQ(Raised([&] { Listen(); }), "EOSError:10013");
  ExpectNothingHeld();
  plan.FailCall("WSAAsyncSelect", WSAENETDOWN);
  plan.Clear();
  Listen();
  plan.FailCall("WSASetServiceA", WSAEACCES);
  EXPECT_EQ(Raised([&] { server->Close(); }), "EOSError:10013");
  EXPECT_EQ(winsock.Startups(), 0);
  EXPECT_TRUE(winsock.OpenSockets().empty());
  // The flags stay; a second Close finds nothing left and ends the state.
  EXPECT_TRUE(server->IsActive());
  server->Close();
  EXPECT_FALSE(server->IsActive());
}

TEST_F(BluetoothTransportFailure, FailedAcceptAddsNothingAndKeepsListening) {
  Listen();
  plan.FailCall("accept", WSAENOBUFS);
  StartConnect();
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0], "EOSError:10055");  // the accept's own error
  EXPECT_EQ(server->ConnectionCount(), 0);
  EXPECT_TRUE(server->IsActive());
  EXPECT_EQ(serverLog.Count("disconnect"), 0);  // never announced
  // Only the listening socket and the client's are open.
  EXPECT_EQ(winsock.OpenSockets().size(), 2u);
}

TEST_F(BluetoothTransportFailure, FailedLinkSelectClosesTheAcceptedSocket) {
  Listen();
  // The accepted link's request, not the third of all: the system may tell
  // the client its link is up before it tells the server to accept.
  plan.FailCall("WSAAsyncSelect@accepted", WSAENETDOWN);
  StartConnect();
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0], "EOSError:10050");
  EXPECT_EQ(server->ConnectionCount(), 0);
  EXPECT_EQ(serverLog.Count("connect"), 0);
  // Only the listening socket and the client's remain.
  EXPECT_EQ(winsock.OpenSockets().size(), 2u);
  // The client sees its link end.
  ASSERT_TRUE(PumpUntil([&] { return !client->IsActive(); }));
}

TEST_F(BluetoothTransportFailure, RaisingOnConnectTearsTheLinkDown) {
  Listen();
  server->OnConnect = [](TQuorCustomConnection*) { throw Exception("refused by handler"); };
  StartConnect();
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0], "refused by handler");
  EXPECT_EQ(server->ConnectionCount(), 0);
  EXPECT_EQ(serverLog.Count("disconnect"), 1);
  EXPECT_EQ(winsock.OpenSockets().size(), 2u);
}

// The failure reaches the client's own OnError, with the transport already
// closed, and not the application's hook.
TEST_F(BluetoothTransportFailure, FailedConnectMakesNoConnectionAndClosesTheTransport) {
  std::vector<DWORD> failures;
  client->OnError = [&](TObject* sender, const std::exception& e) {
    EXPECT_EQ(sender, client.get());
    EXPECT_FALSE(client->IsActive());
    const auto* os = dynamic_cast<const EOSError*>(&e);
    failures.push_back(os != nullptr ? os->ErrorCode : 0);
  };
  // Nothing offers the class on the server radio.
  StartConnect();
  EXPECT_TRUE(client->IsActive());
  ASSERT_TRUE(PumpUntil([&] { return !failures.empty(); }));
  EXPECT_EQ(failures, std::vector<DWORD>{WSASERVICE_NOT_FOUND});
  EXPECT_TRUE(errors.empty());
  EXPECT_FALSE(client->IsActive());
  EXPECT_EQ(client->ConnectionCount(), 0);
  EXPECT_TRUE(clientLog.events.empty());
  ExpectNothingHeld();
  // The transport can connect again once the service is there.
  Link();
}

TEST_F(BluetoothTransportFailure, ConnectToAnUnknownRadioFails) {
  client->SetAddress("(00:00:00:00:00:01)");
  StartConnect();
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0], "EOSError:" + std::to_string(WSAEHOSTUNREACH));
  EXPECT_FALSE(client->IsActive());
}

TEST_F(BluetoothTransportFailure, EmptyWriteSendsNothing) {
  Link();
  plan.ClearCalls();
  EXPECT_EQ(Raised([&] { ClientLink().Write({}); }), "Invalid argument.");
  EXPECT_EQ(plan.Count("send"), 0);
}

TEST_F(BluetoothTransportFailure, WriteLosesNoByteWhenTheSocketTakesOnlyPart) {
  if (testing::UnderWine())
    GTEST_SKIP() << "Wine's loopback TCP takes every byte and never reports a send would block";
  Link();
  winsock.CapSends(1000);
  // More than the socket buffers hold, so sends would block as well.
  std::string sent;
  for (int i = 0; i < 3 * 1024 * 1024; ++i) sent.push_back(static_cast<char>(i * 31 % 251));
  ClientLink().Write(Bytes(sent.substr(0, sent.size() / 2)));
  EXPECT_GT(ClientLink().PendingWrite(), 0u);
  ClientLink().Write(Bytes(sent.substr(sent.size() / 2)));
  auto* link = &ServerLink();
  ASSERT_TRUE(PumpUntil([&] { return serverLog.received[link].size() >= sent.size(); },
                        std::chrono::seconds(60)))
      << serverLog.received[link].size() << " pending " << ClientLink().PendingWrite();
  EXPECT_TRUE(serverLog.received[link] == sent);
  EXPECT_EQ(ClientLink().PendingWrite(), 0u);
  EXPECT_EQ(winsock.Masks().back(), FD_READ | FD_CLOSE);
}

TEST_F(BluetoothTransportFailure, FailingSendRaisesCanNotWrite) {
  Link();
  plan.FailCall("send", WSAECONNRESET);
  EXPECT_EQ(Raised([&] { ClientLink().Write(Bytes("x")); }), "Can not write data to connection.");
}

TEST_F(BluetoothTransportFailure, ALinkThatCannotBeReadEndsInsteadOfSpinning) {
  Link();
  // Not a socket any more, say: each readiness would fail the same way.
  plan.FailCall("recv", WSAENOTSOCK, 0);
  ClientLink().Write(Bytes("x"));
  ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 0; }));
  EXPECT_EQ(serverLog.Count("disconnect"), 1);
  EXPECT_EQ(serverLog.Count("read"), 0);
  plan.Clear();
  EXPECT_TRUE(server->IsActive());
}

TEST_F(BluetoothTransportFailure, BytesBeforeThePeersCloseAllArriveBeforeOnDisconnect) {
  Link();
  std::string sent(5000, 'z');
  sent[4999] = '!';
  ClientLink().Write(Bytes(sent));
  client->Close();
  ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 0; }));
  ASSERT_FALSE(serverLog.received.empty());
  EXPECT_EQ(serverLog.received.begin()->second, sent);
  EXPECT_EQ(serverLog.events.back(), "disconnect");
  EXPECT_EQ(serverLog.Count("disconnect"), 1);
}

TEST_F(BluetoothTransportFailure, RaisingOnDisconnectStillReleasesTheLink) {
  Link();
  Owned<TQuorBluetooth> second = LinkSecondClient();
  ASSERT_EQ(server->ConnectionCount(), 2);
  server->OnDisconnect = [](TQuorCustomConnection*) { throw Exception("handler failed"); };
  const auto masksBefore = winsock.Masks().size();
  EXPECT_EQ(Raised([&] { server->Close(); }), "handler failed");
  // Each link's request was cancelled and its socket closed.
  auto masks = winsock.Masks();
  int cancels = 0;
  for (std::size_t i = masksBefore; i < masks.size(); ++i) cancels += masks[i] == 0;
  EXPECT_EQ(cancels, 2);
  EXPECT_EQ(server->ConnectionCount(), 0);
  server->Close();
  client->Close();
  second.reset();
  ExpectNothingHeld();
}

TEST_F(BluetoothTransportFailure, RemoteAddressFailures) {
  Link();
  for (const char* call : {"getpeername", "getsockopt", "WSAAddressToStringA"}) {
    SCOPED_TRACE(call);
    plan.FailCall(call, WSAENOTCONN);
    EXPECT_EQ(Raised([&] { ClientLink().GetRemoteAddress(); }), "EOSError:10057");
  }
}

TEST_F(BluetoothTransportFailure, LocalAddressFailures) {
  Listen();
  for (const char* call : {"getsockname", "getsockopt", "WSAAddressToStringA"}) {
    SCOPED_TRACE(call);
    plan.FailCall(call, WSAEINVAL);
    EXPECT_EQ(Raised([&] { server->GetLocalAddress(); }), "EOSError:10022");
  }
}

TEST_F(BluetoothTransportFailure, SearchesAndRadiosAreReleasedOnEveryPath) {
  Link();
  const auto handles = testing::LiveHandleCount();
  // The radio search raising inside (local address), the device search
  // raising inside (address conversion), and the searches finding nothing.
  plan.FailCall("getsockopt", WSAEINVAL);
  EXPECT_EQ(Raised([&] { server->GetRadioByAddress(); }), "EOSError:10022");
  plan.FailCall("WSAStringToAddressA", WSAEINVAL, 2);
  EXPECT_EQ(Raised([&] { ClientLink().GetRemoteName(); }), "EOSError:10022");
  plan.FailCall("BluetoothFindFirstDevice", ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(ClientLink().GetRemoteName(), "");
  plan.FailCall("BluetoothFindFirstRadio", ERROR_NO_MORE_ITEMS, 0);
  EXPECT_EQ(ClientLink().GetRemoteName(), "");
  EXPECT_EQ(server->GetLocalName(), "");
  plan.FailCall("BluetoothGetRadioInfo", ERROR_INVALID_PARAMETER, 2);
  EXPECT_EQ(server->GetLocalName(), "");
  plan.Clear();
  EXPECT_EQ(bluetooth.OpenSearches(), 0u);
  EXPECT_EQ(testing::LiveHandleCount(), handles);
}

TEST_F(BluetoothTransportFailure, DeviceSelectionFailures) {
  auto previous = platform::SetDevicePicker([](const auto&) { return 0; });
  // Cancelled: nothing to free.
  plan.FailCall("BluetoothSelectDevices", ERROR_CANCELLED);
  EXPECT_EQ(server->SelectDevice(), "");
  EXPECT_EQ(plan.Count("BluetoothSelectDevicesFree"), 0);
  // Winsock refuses: the list is freed all the same.
  plan.FailCall("WSAStartup", WSASYSNOTREADY);
  EXPECT_EQ(Raised([&] { server->SelectDevice(); }),
            "Underlying network subsystem is not ready for network communication.");
  EXPECT_EQ(plan.Count("BluetoothSelectDevicesFree"), 1);
  // Text after the first ")" is cut; without one, nothing is left.
  plan.Clear();
  winsock.ForceAddressText("(00:11:22:33:44:55):7 extra");
  EXPECT_EQ(server->SelectDevice(), "(00:11:22:33:44:55)");
  winsock.ForceAddressText("00:11:22:33:44:55");
  EXPECT_EQ(server->SelectDevice(), "");
  platform::SetDevicePicker(previous);
  EXPECT_EQ(winsock.Startups(), 0);
}

}  // namespace
}  // namespace quorlink::testing
