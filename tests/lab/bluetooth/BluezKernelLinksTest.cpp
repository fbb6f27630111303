// The library's BlueZ provider against the real bluetoothd and kernel RFCOMM:
// listeners whose links bluetoothd hands over, connects by channel, the
// "any channel" probe, descriptors over many cycles.
#include <quorlink/bluetooth/QuorBluetoothConnection.h>

#include <future>

#include "comport/ProcessCounters.h"
#include "lab/bluetooth/LabBluetooth.h"
#include "platform/Winsock.h"

namespace quorlink::testing::lab {
namespace {

void Write(TQuorCustomTransport& t, const std::string& text) {
  static_cast<TQuorBluetoothConnection&>(*t.GetConnections(0))
      .Write(TQuorByteArray(text.begin(), text.end()));
}

// The channel in a listener's "(00:AA:01:00:00:00):N".
int ListeningChannel(TQuorBluetooth& t) {
  const std::string local = t.GetLocalAddress();
  const auto colon = local.rfind("):");
  return colon == std::string::npos ? -1 : std::stoi(local.substr(colon + 2));
}

// The library's own connect by channel: a Winsock RFCOMM socket, which BlueZ
// makes a kernel socket (blocking: the kernel sets the link up by itself).
class ChannelLink {
 public:
  explicit ChannelLink(int channel) {
    WSADATA data;
    started_ = ws_.WSAStartup(0x0202, &data) == 0;
    s_ = ws_.socket(AF_BTH, win32::SOCK_STREAM, BTHPROTO_RFCOMM);
    SOCKADDR_BTH addr{};
    addr.addressFamily = AF_BTH;
    addr.btAddr = kRadio;
    addr.port = static_cast<ULONG>(channel);
    if (s_ != INVALID_SOCKET &&
        ws_.connect(s_, reinterpret_cast<SOCKADDR*>(&addr), sizeof addr) != 0)
      error_ = ws_.WSAGetLastError();
  }
  ~ChannelLink() {
    if (s_ != INVALID_SOCKET) ws_.closesocket(s_);
    if (started_) ws_.WSACleanup();
  }
  ChannelLink(const ChannelLink&) = delete;
  ChannelLink& operator=(const ChannelLink&) = delete;
  // 0 when connected, else the Winsock code.
  int Error() const { return s_ == INVALID_SOCKET ? -1 : error_; }
  bool Send(const std::string& text) {
    return ws_.send(s_, text.data(), static_cast<int>(text.size()), 0) ==
           static_cast<int>(text.size());
  }
  // What comes next ("" at the link's end): one blocking read on a thread
  // while the loop runs here, bounded by the lab's deadline.
  std::string Receive() {
    auto read = std::async(std::launch::async, [this] {
      char buffer[256];
      const int n = ws_.recv(s_, buffer, sizeof buffer, 0);
      return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    });
    PumpUntil([&] { return read.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return read.get();
  }

 private:
  platform::IWinsock& ws_ = platform::Winsock();
  bool started_ = false;
  SOCKET s_ = INVALID_SOCKET;
  int error_ = 0;
};

// Two listeners on "any channel" (two classes: bluetoothd takes one profile
// per class): each gets the channel its probe chose, which its record
// publishes and bluetoothd listens on; a link by channel from the other radio
// and one through the library's Winsock reach the right listener and carry
// bytes both ways; closes end the link on both sides.
TEST_F(LabBluetooth, ListenersGetTheirOwnChannelsAndLinksByChannelCarryBytes) {
  std::vector<std::string> aEvents, bEvents;
  Transport a = NewTransport(aEvents), b = NewTransport(bEvents);
  a->SetServiceName("Lab A");
  b->SetServiceName("Lab B");
  b->SetService("SerialPortServiceClass");
  a->Listen();
  b->Listen();
  const int channelA = RecordChannel("Lab A"), channelB = RecordChannel("Lab B");
  ASSERT_GT(channelA, 0);
  ASSERT_GT(channelB, 0);
  EXPECT_NE(channelA, channelB);
  EXPECT_EQ(ListeningChannel(*a), channelA) << a->GetLocalAddress();
  EXPECT_EQ(ListeningChannel(*b), channelB) << b->GetLocalAddress();

  {
    FarLink toB(channelB);
    ASSERT_GE(toB.Fd(), 0) << "channel " << channelB << ", errno " << toB.Error();
    ASSERT_TRUE(PumpUntil([&] { return b->ConnectionCount() == 1; }));
    EXPECT_EQ(a->ConnectionCount(), 0);
    ASSERT_TRUE(toB.Send("to B"));
    ASSERT_TRUE(PumpUntil([&] { return Count(bEvents, "read:to B") == 1; }));
    Write(*b, "from B");
    EXPECT_EQ(toB.Receive(6), "from B");
  }
  ASSERT_TRUE(PumpUntil([&] { return Count(bEvents, "disconnect") == 1; }));

  ChannelLink client(channelA);
  ASSERT_EQ(client.Error(), 0);
  ASSERT_TRUE(PumpUntil([&] { return a->ConnectionCount() == 1; }));
  ASSERT_TRUE(client.Send("hello A"));
  ASSERT_TRUE(PumpUntil([&] { return Count(aEvents, "read:hello A") == 1; }));
  Write(*a, "hello client");
  EXPECT_EQ(client.Receive(), "hello client");
  a->GetConnections(0)->Close();
  EXPECT_EQ(client.Receive(), "");
  EXPECT_EQ(Count(aEvents, "disconnect"), 1);
  EXPECT_TRUE(errors.empty());

  // Closing a listener takes its record away; the other stays.
  a->Close();
  EXPECT_EQ(RecordChannel("Lab A"), -1);
  EXPECT_EQ(RecordChannel("Lab B"), channelB);
}

// Listen, link by channel, close, again and again: every descriptor and
// record comes back.
TEST_F(LabBluetooth, ListenConnectCloseCyclesGiveBackEveryDescriptor) {
  std::vector<std::string> serverEvents;
  Transport server = NewTransport(serverEvents);
  server->SetServiceName("Lab cycles");
  auto cycle = [&] {
    server->Listen();
    {
      ChannelLink client(ListeningChannel(*server));
      ASSERT_EQ(client.Error(), 0);
      ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 1; }));
      ASSERT_TRUE(client.Send("x"));
      ASSERT_TRUE(PumpUntil([&] { return Count(serverEvents, "read:x") > 0; }));
    }
    ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 0; }));
    server->Close();
  };
  // One cycle first: the bus connection and its watches stay open after it.
  cycle();
  const int start = comport::HandleCount();
  for (int i = 0; i < 10 && !HasFatalFailure(); ++i) cycle();
  platform::Messages().ProcessMessage(0);
  EXPECT_EQ(comport::HandleCount(), start);
  EXPECT_EQ(RecordChannel("Lab cycles"), -1);
  EXPECT_TRUE(errors.empty());
}

// A connect by service class to a device whose record a listener in the
// same bluetoothd publishes: bluetoothd takes one profile per class and
// refuses the client's, so the channel comes from the device's SDP server
// and the link is a kernel RFCOMM socket.
TEST_F(LabBluetooth, ConnectByClassToAListenerOnTheSameMachine) {
  std::vector<std::string> serverEvents, clientEvents;
  Transport server = NewTransport(serverEvents), client = NewTransport(clientEvents);
  server->SetServiceName("Lab by class");
  server->Listen();
  client->SetAddress(kRadioText);
  client->Connect();
  ASSERT_TRUE(PumpUntil([&] { return client->ConnectionCount() == 1 || !errors.empty(); }, 30000));
  ASSERT_TRUE(errors.empty()) << errors[0];
  Write(*client, "by class");
  EXPECT_TRUE(PumpUntil([&] { return Count(serverEvents, "read:by class") == 1; }));
}

}  // namespace
}  // namespace quorlink::testing::lab
