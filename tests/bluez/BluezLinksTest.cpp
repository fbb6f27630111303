// Links through BlueZ against the stand-in bluetoothd: a listening transport
// fed by Profile1.NewConnection, connects by class through ConnectProfile,
// bluetoothd leaving and coming back, pairing through this process's agent,
// and descriptors after many cycles.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "bluez/BluezStandIn.h"
#include "comport/ProcessCounters.h"
#include "platform/BluetoothApi.h"
#include "platform/Winsock.h"
#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Endpoint.h"
#include "platform/posix/bluez/Rfcomm.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothConnection.h"
#include "quorlink/core/Classes.h"

namespace quorlink::testing {
namespace {

namespace bluez = platform::posix::bluez;

const char* const kRadio = R"({
  "adapters": [{"name": "hci0", "alias": "Desk radio"}],
  "devices": [{"adapter": "hci0", "address": "AA:BB:CC:DD:EE:01", "alias": "Headset",
               "paired": true, "connected": true},
              {"adapter": "hci0", "address": "11:22:33:44:55:66", "alias": "Stranger"}]})";
const char* const kHeadset = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01";
const char* const kStranger = "/org/bluez/hci0/dev_11_22_33_44_55_66";

struct FreeObject {
  void operator()(TObject* object) const { Free(object); }
};
using Transport = std::unique_ptr<TQuorBluetooth, FreeObject>;

// The stand-in's registered profiles: (object path, its JSON text).
std::vector<std::pair<std::string, std::string>> Profiles(const BluezStandIn& bus) {
  const std::string json = bus.Profiles();
  const std::string key = "\"/org/quorlink/bluez/";
  std::vector<std::pair<std::string, std::string>> out;
  for (auto at = json.find(key); at != std::string::npos;) {
    const auto end = json.find('"', at + 1);
    const auto next = json.find(key, end);
    out.emplace_back(json.substr(at + 1, end - at - 1), json.substr(end, next - end));
    at = next;
  }
  return out;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Whatever the far end has received, once it has something.
std::string ReadFar(int fd) {
  std::string got;
  PumpUntil([&] {
    char buffer[256];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    return !got.empty();
  });
  return got;
}

class BluezLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto missing = BluezStandIn::Missing(); !missing.empty())
      GTEST_SKIP() << "no stand-in bluetoothd: " << missing;
    bus = std::make_unique<BluezStandIn>(kRadio);
    ASSERT_TRUE(bus->Ready());
    ApplicationHandleException = [this](TObject*) {
      try {
        throw;
      } catch (const EOSError& e) {
        errors.push_back(static_cast<int>(e.ErrorCode));
      } catch (...) {
        errors.push_back(-1);
      }
    };
    Attach(server, serverEvents);
    Attach(client, clientEvents);
    // bluetoothd keeps one profile per class: the client's is another.
    server->SetService("SerialPortServiceClass");
    server->SetServiceName("Quorlink test");
    server->SetServiceComment("Echo & friends");
    client->SetAddress("(AA:BB:CC:DD:EE:01)");
  }
  void TearDown() override {
    client.reset();
    server.reset();
    platform::Messages().ProcessMessage(0);
    ApplicationHandleException = nullptr;
    bus.reset();
  }
  void Attach(Transport& t, std::vector<std::string>& events) {
    t.reset(new TQuorBluetooth(nullptr));
    auto* log = &events;
    t->OnConnect = [log](TQuorCustomConnection*) { log->push_back("connect"); };
    t->OnRead = [log](TQuorCustomConnection*, const TQuorByteArray& b) {
      log->push_back("read:" + std::string(b.begin(), b.end()));
    };
    t->OnDisconnect = [log](TQuorCustomConnection*) { log->push_back("disconnect"); };
  }
  static int Count(const std::vector<std::string>& events, const std::string& e) {
    int n = 0;
    for (const auto& x : events) n += x == e;
    return n;
  }
  // The only server profile registered now.
  std::string ServerProfile() {
    for (const auto& [path, text] : Profiles(*bus))
      if (Has(text, "\"Role\": \"server\"")) return path;
    return {};
  }
  // A link from the headset to the listening server; the far end.
  int Incoming() {
    const int before = server->ConnectionCount();
    int far = bus->NewLink(bluez::UniqueName(), ServerProfile(), kHeadset);
    EXPECT_GE(far, 0);
    EXPECT_TRUE(PumpUntil([&] { return server->ConnectionCount() == before + 1; }));
    return far;
  }
  // The client connected by class through ConnectProfile; the far end.
  int Outgoing() {
    bus->SetConnect(kHeadset, bluez::UniqueName(), "", "");
    client->Connect();
    EXPECT_TRUE(PumpUntil([&] { return client->ConnectionCount() == 1 || !errors.empty(); }));
    return bus->TakeLink();
  }

  // A client link knows the adapter it went out of, and so the peer's name.
  void ExpectBothEndsNamed() {
    auto* link = client->GetConnections(0);
    EXPECT_EQ(link->GetLocalAddress(), "(00:01:02:03:04:05)");
    EXPECT_EQ(link->GetRemoteAddress(), "(AA:BB:CC:DD:EE:01)");
    EXPECT_EQ(link->GetRemoteName(), "Headset");
  }

  std::unique_ptr<BluezStandIn> bus;
  Transport server, client;
  std::vector<std::string> serverEvents, clientEvents;
  std::vector<int> errors;
};

TEST_F(BluezLinks, ListenPublishesTheRecordAndLinksCarryBytesAndCloseBothWays) {
  server->Listen();
  auto profiles = Profiles(*bus);
  ASSERT_EQ(profiles.size(), 1u);
  const std::string& record = profiles[0].second;
  // The record names the service, its comment (escaped), class and channel.
  EXPECT_TRUE(Has(record, "\"Name\": \"Quorlink test\"")) << record;
  EXPECT_TRUE(Has(record, "\"Role\": \"server\"")) << record;
  EXPECT_TRUE(Has(record, "\"Channel\": 1")) << record;
  EXPECT_TRUE(Has(record, bluez::UuidText(server->GetServiceGUID()))) << record;
  EXPECT_TRUE(Has(record, "Echo &amp; friends")) << record;
  EXPECT_TRUE(Has(record, "uint8 value=\\\"0x01\\\"")) << record;
  EXPECT_TRUE(Has(server->GetLocalAddress(), "00:01:02:03:04:05")) << server->GetLocalAddress();

  // A link from bluetoothd: OnConnect, bytes both ways, the peer's close.
  int far = Incoming();
  ASSERT_EQ(Count(serverEvents, "connect"), 1);
  ASSERT_EQ(::send(far, "ping", 4, 0), 4);
  ASSERT_TRUE(PumpUntil([&] { return Count(serverEvents, "read:ping") == 1; }));
  static_cast<TQuorBluetoothConnection&>(*server->GetConnections(0))
      .Write(TQuorByteArray{'p', 'o', 'n', 'g'});
  EXPECT_EQ(ReadFar(far), "pong");
  ::close(far);
  ASSERT_TRUE(PumpUntil([&] { return Count(serverEvents, "disconnect") == 1; }));

  // Our close: the peer sees the end.
  far = Incoming();
  server->GetConnections(0)->Close();
  char byte;
  EXPECT_TRUE(PumpUntil([&] { return ::recv(far, &byte, 1, MSG_DONTWAIT) == 0; }));
  ::close(far);

  // A second listener takes the next channel; Close unregisters each.
  Transport second;
  std::vector<std::string> secondEvents;
  Attach(second, secondEvents);
  second->Listen();
  profiles = Profiles(*bus);
  ASSERT_EQ(profiles.size(), 2u);
  EXPECT_TRUE(Has(profiles[0].second + profiles[1].second, "\"Channel\": 2"));
  second->Close();
  server->Close();
  EXPECT_TRUE(Profiles(*bus).empty()) << bus->Profiles();
  EXPECT_TRUE(errors.empty());

  // Record text that is not UTF-8 cannot go over D-Bus: refused as an
  // invalid argument, nothing registered.
  for (auto set : {&TQuorBluetooth::SetServiceName, &TQuorBluetooth::SetServiceComment}) {
    Transport bad;
    std::vector<std::string> badEvents;
    Attach(bad, badEvents);
    ((*bad).*set)("Caf\xE9");
    try {
      bad->Listen();
      ADD_FAILURE() << "listened";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(WSAEINVAL));
    }
    EXPECT_TRUE(Profiles(*bus).empty()) << bus->Profiles();
  }
}

TEST_F(BluezLinks, HandOverRefusesWhatIsNotAConnectedStreamSocket) {
  server->Listen();
  const std::string profile = ServerProfile();
  // NewConnection with the test's descriptor, as bluetoothd calls it; the
  // answer's error name, empty when the link was taken.
  auto handOver = [&](int fd) {
    struct Answer {
      bool done = false;
      std::string error;
    } answer;
    sd_bus_slot* slot = nullptr;
    sd_bus_call_method_async(
        bus->Control(), &slot, bluez::UniqueName().c_str(), profile.c_str(), "org.bluez.Profile1",
        "NewConnection",
        [](sd_bus_message* reply, void* out, sd_bus_error*) {
          auto* a = static_cast<Answer*>(out);
          const sd_bus_error* e = sd_bus_message_get_error(reply);
          if (e != nullptr && e->name != nullptr) a->error = e->name;
          a->done = true;
          return 0;
        },
        &answer, "oha{sv}", kHeadset, fd, 0);
    EXPECT_TRUE(PumpUntil([&] {
      while (sd_bus_process(bus->Control(), nullptr) > 0) {
      }
      return answer.done;
    }));
    sd_bus_slot_unref(slot);
    ::close(fd);
    return answer.error;
  };
  int pipeEnds[2], unconnected, datagrams[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  ::close(pipeEnds[1]);
  ASSERT_GE(unconnected = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0), 0);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, datagrams), 0);
  ::close(datagrams[1]);
  for (int fd : {pipeEnds[0], unconnected, datagrams[0]})
    EXPECT_EQ(handOver(fd), "org.bluez.Error.InvalidArguments") << fd;
  PumpUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(server->ConnectionCount(), 0);
  EXPECT_EQ(Count(serverEvents, "connect"), 0);
  // A real link is still taken.
  int far = Incoming();
  ASSERT_GE(far, 0);
  ::close(far);
  EXPECT_TRUE(errors.empty());
}

TEST_F(BluezLinks, ConnectByClassRunsThroughConnectProfileAndMapsEachFailure) {
  int far = Outgoing();
  ASSERT_EQ(client->ConnectionCount(), 1) << (errors.empty() ? 0 : errors[0]);
  ASSERT_GE(far, 0);
  ExpectBothEndsNamed();
  // The client profile is registered for the class while the link lives.
  auto profiles = Profiles(*bus);
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_TRUE(Has(profiles[0].second, "\"Role\": \"client\""));
  EXPECT_TRUE(Has(profiles[0].second, bluez::UuidText(client->GetServiceGUID())));
  static_cast<TQuorBluetoothConnection&>(*client->GetConnections(0))
      .Write(TQuorByteArray{'h', 'i'});
  EXPECT_EQ(ReadFar(far), "hi");
  ASSERT_EQ(::send(far, "yo", 2, 0), 2);
  ASSERT_TRUE(PumpUntil([&] { return Count(clientEvents, "read:yo") == 1; }));
  ::close(far);
  ASSERT_TRUE(PumpUntil([&] { return Count(clientEvents, "disconnect") == 1; }));
  client->Close();
  EXPECT_TRUE(Profiles(*bus).empty()) << bus->Profiles();

  // Each refusal bluetoothd gives reaches the application as its Winsock code.
  const struct {
    const char* name;
    const char* message;
    int code;
  } failures[] = {
      {"org.bluez.Error.Failed", "Host is down", WSAEHOSTDOWN},
      {"org.bluez.Error.Failed", "br-connection-refused", WSAECONNREFUSED},
      {"org.freedesktop.DBus.Error.NoReply", "no reply", WSAETIMEDOUT},
      {"org.bluez.Error.NotAvailable", "Operation currently not available", WSASERVICE_NOT_FOUND},
      {"org.bluez.Error.NotReady", "Resource Not Ready", WSAENETDOWN},
      {"none", "an answer without a link", WSAECONNABORTED},
  };
  for (const auto& f : failures) {
    errors.clear();
    bus->SetConnect(kHeadset, bluez::UniqueName(), f.name, f.message);
    client->Connect();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); })) << f.name << " " << f.message;
    EXPECT_EQ(errors[0], f.code) << f.name << " " << f.message;
    EXPECT_FALSE(client->IsActive());
    EXPECT_TRUE(Profiles(*bus).empty()) << f.message;
  }
  // A device bluetoothd does not know cannot be paged.
  errors.clear();
  client->SetAddress("(01:02:03:04:05:06)");
  try {
    client->Connect();
    PumpUntil([&] { return !errors.empty(); });
  } catch (const EOSError& e) {
    errors.push_back(static_cast<int>(e.ErrorCode));
  }
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], WSAEHOSTUNREACH);
  EXPECT_EQ(Count(clientEvents, "connect"), 1);
}

// The kernel's links replaced: the SDP server's answers wait on a packet
// pair, the RFCOMM link is a stream pair; what was asked is kept.
struct KernelStandIn : bluez::KernelLinks {
  std::vector<std::vector<std::uint8_t>> answers;
  int sdpError = 0;
  int sdpFar = -1, rfcommFar = -1;
  std::uint32_t channel = 0;
  std::uint64_t remote = 0;
  ~KernelStandIn() override {
    if (sdpFar >= 0) ::close(sdpFar);
    if (rfcommFar >= 0) ::close(rfcommFar);
  }
  int Rfcomm(std::uint64_t, std::uint64_t to, std::uint32_t c, bool, int& fd) override {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
      return errno;
    fd = pair[0];
    if (rfcommFar >= 0) ::close(rfcommFar);
    rfcommFar = pair[1];
    channel = c;
    remote = to;
    return 0;
  }
  int Sdp(std::uint64_t, std::uint64_t, int& fd) override {
    if (sdpError != 0) return sdpError;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
      return errno;
    for (const auto& a : answers) ::send(pair[1], a.data(), a.size(), 0);
    fd = pair[0];
    if (sdpFar >= 0) ::close(sdpFar);
    sdpFar = pair[1];
    return 0;
  }
  // The requests the SDP server was sent.
  std::vector<std::vector<std::uint8_t>> Requests() const {
    std::vector<std::vector<std::uint8_t>> out;
    std::uint8_t buffer[1024];
    for (ssize_t n; (n = ::recv(sdpFar, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
      out.emplace_back(buffer, buffer + n);
    return out;
  }
};

// A ServiceSearchAttribute answer carrying part of the record lists.
std::vector<std::uint8_t> Answer(std::uint16_t transaction, std::vector<std::uint8_t> part,
                                 std::vector<std::uint8_t> state) {
  const auto length = 2 + part.size() + 1 + state.size();
  std::vector<std::uint8_t> pdu{0x07,
                                static_cast<std::uint8_t>(transaction >> 8),
                                static_cast<std::uint8_t>(transaction),
                                static_cast<std::uint8_t>(length >> 8),
                                static_cast<std::uint8_t>(length),
                                static_cast<std::uint8_t>(part.size() >> 8),
                                static_cast<std::uint8_t>(part.size())};
  pdu.insert(pdu.end(), part.begin(), part.end());
  pdu.push_back(static_cast<std::uint8_t>(state.size()));
  pdu.insert(pdu.end(), state.begin(), state.end());
  return pdu;
}

// One record whose protocol descriptor list has L2CAP and the given second
// protocol (0x0003: RFCOMM) with a one-byte channel.
std::vector<std::uint8_t> Lists(std::uint8_t protocol, std::uint8_t channel) {
  return {0x35, 0x13, 0x35, 0x11, 0x09, 0x00, 0x04, 0x35,     0x0C, 0x35,   0x03,
          0x19, 0x01, 0x00, 0x35, 0x05, 0x19, 0x00, protocol, 0x08, channel};
}

TEST_F(BluezLinks, ConnectByAClassAnotherProgramHoldsAsksTheDeviceForItsChannel) {
  // A listener holds the class, so bluetoothd refuses the client's profile.
  server->SetService(client->GetService());
  server->Listen();
  KernelStandIn kernel;
  bluez::ScopedLinks links(kernel);
  const auto lists = Lists(0x03, 7);
  // The lists arrive in two answers, the first with a continuation state.
  kernel.answers = {Answer(1, {lists.begin(), lists.begin() + 9}, {0xAB, 0xCD}),
                    Answer(2, {lists.begin() + 9, lists.end()}, {})};
  client->Connect();
  ASSERT_TRUE(PumpUntil([&] { return client->ConnectionCount() == 1 || !errors.empty(); }));
  ASSERT_TRUE(errors.empty()) << errors[0];
  EXPECT_EQ(kernel.channel, 7u);
  EXPECT_EQ(kernel.remote, 0xAABBCCDDEE01ull);
  // Each request names the class; the second carries the state it was given.
  const auto requests = kernel.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const GUID g = client->GetServiceGUID();
  for (const auto& r : requests) {
    ASSERT_GT(r.size(), 24u);
    EXPECT_EQ(r[0], 0x06);
    EXPECT_EQ(r[3] << 8 | r[4], static_cast<int>(r.size()) - 5);
    EXPECT_EQ(r[8] << 24 | r[9] << 16 | r[10] << 8 | r[11], static_cast<int>(g.Data1));
  }
  EXPECT_EQ(std::vector<std::uint8_t>(requests[1].end() - 3, requests[1].end()),
            (std::vector<std::uint8_t>{2, 0xAB, 0xCD}));
  static_cast<TQuorBluetoothConnection&>(*client->GetConnections(0))
      .Write(TQuorByteArray{'h', 'i'});
  EXPECT_EQ(ReadFar(kernel.rfcommFar), "hi");
  ExpectBothEndsNamed();
  client->Close();

  // What the device answers decides the failure: the Winsock code, no link.
  const struct {
    const char* what;
    std::vector<std::vector<std::uint8_t>> answers;
    int sdpError;
    int code;
  } failures[] = {
      {"no RFCOMM in the record", {Answer(1, Lists(0x17, 7), {})}, 0, WSASERVICE_NOT_FOUND},
      {"channel out of range", {Answer(1, Lists(0x03, 0), {})}, 0, WSASERVICE_NOT_FOUND},
      {"no record", {Answer(1, {0x35, 0x00}, {})}, 0, WSASERVICE_NOT_FOUND},
      {"an error answer", {{0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x02}}, 0, WSASERVICE_NOT_FOUND},
      {"another transaction", {Answer(9, Lists(0x03, 7), {})}, 0, WSAECONNABORTED},
      {"a count past the end",
       {{0x07, 0x00, 0x01, 0x00, 0x03, 0x00, 0x40, 0x00}},
       0,
       WSAECONNABORTED},
      {"truncated lists",
       {Answer(1, {lists.begin(), lists.end() - 1}, {})},
       0,
       WSASERVICE_NOT_FOUND},
      {"the device is down", {}, EHOSTDOWN, WSAEHOSTDOWN},
  };
  for (const auto& f : failures) {
    errors.clear();
    kernel.answers = f.answers;
    kernel.sdpError = f.sdpError;
    kernel.channel = 0;
    try {
      client->Connect();
      PumpUntil([&] { return !errors.empty(); });
    } catch (const EOSError& e) {
      errors.push_back(static_cast<int>(e.ErrorCode));
    }
    ASSERT_FALSE(errors.empty()) << f.what;
    EXPECT_EQ(errors[0], f.code) << f.what;
    EXPECT_EQ(kernel.channel, 0u) << f.what;
    EXPECT_FALSE(client->IsActive()) << f.what;
  }

  // bluetoothd's records of the device may be older than the service: when
  // ConnectProfile finds none, the device itself is asked.
  server->Close();
  errors.clear();
  bus->SetConnect(kHeadset, bluez::UniqueName(), "org.bluez.Error.NotAvailable", "unavailable");
  kernel.answers = {Answer(1, Lists(0x03, 9), {})};
  kernel.sdpError = 0;
  client->Connect();
  ASSERT_TRUE(PumpUntil([&] { return client->ConnectionCount() == 1 || !errors.empty(); }));
  ASSERT_TRUE(errors.empty()) << errors[0];
  EXPECT_EQ(kernel.channel, 9u);
}

TEST_F(BluezLinks, BluetoothdLeavingEndsLinksAndALaterListenWorks) {
  server->Listen();
  int in = Incoming();
  int out = Outgoing();
  ASSERT_EQ(client->ConnectionCount(), 1);
  // A listener that stays open across the restart.
  Transport keeper;
  std::vector<std::string> keeperEvents;
  Attach(keeper, keeperEvents);
  keeper->SetService("DialupNetworkingServiceClass");
  keeper->Listen();
  // A connect bluetoothd is still paging for when it goes.
  Transport paging;
  std::vector<std::string> pagingEvents;
  Attach(paging, pagingEvents);
  paging->SetAddress("(11:22:33:44:55:66)");
  paging->SetService("HeadsetServiceClass");
  bus->SetConnect(kStranger, bluez::UniqueName(), "hang", "");
  paging->Connect();
  ASSERT_TRUE(PumpUntil([&] { return Has(bus->Log(), "ConnectProfile"); }));
  bus->StopBluetoothd();
  ASSERT_TRUE(PumpUntil([&] {
    return Count(serverEvents, "disconnect") == 1 && Count(clientEvents, "disconnect") == 1;
  }));
  ::close(in);
  ::close(out);
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0], WSAENETDOWN);
  EXPECT_FALSE(paging->IsActive());
  errors.clear();
  // Closing while bluetoothd is away unregisters nothing and raises nothing.
  server->Close();
  client->Close();
  EXPECT_TRUE(errors.empty());
  // A connect while it is away fails at once: nobody to page with.
  try {
    client->Connect();
    PumpUntil([&] { return !errors.empty(); });
  } catch (const EOSError& e) {
    errors.push_back(static_cast<int>(e.ErrorCode));
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], WSAENETDOWN);
  errors.clear();

  bus->StartBluetoothd(kRadio);
  ASSERT_TRUE(bus->Ready());
  // bluetoothd back: the open listener's profile is registered again.
  std::string kept;
  ASSERT_TRUE(PumpUntil([&] { return !(kept = ServerProfile()).empty(); }));
  EXPECT_TRUE(Has(bus->Profiles(), "\"Channel\": 2")) << bus->Profiles();
  int far = bus->NewLink(bluez::UniqueName(), kept, kHeadset);
  EXPECT_TRUE(PumpUntil([&] { return keeper->ConnectionCount() == 1; }));
  ::close(far);
  keeper->Close();
  server->Listen();
  EXPECT_FALSE(ServerProfile().empty()) << bus->Profiles();
  in = Incoming();
  ASSERT_GE(in, 0);
  ASSERT_EQ(::send(in, "again", 5, 0), 5);
  EXPECT_TRUE(PumpUntil([&] { return Count(serverEvents, "read:again") == 1; }));
  ::close(in);
}

TEST_F(BluezLinks, HundredCyclesGiveBackEveryDescriptor) {
  // One cycle first: the bus connection and its watches stay open after it.
  auto cycle = [&] {
    server->Listen();
    int in = Incoming();
    int out = Outgoing();
    ::close(in);
    ::close(out);
    server->Close();
    client->Close();
  };
  cycle();
  const int start = comport::HandleCount();
  for (int i = 0; i < 100 && !HasFatalFailure(); ++i) cycle();
  platform::Messages().ProcessMessage(0);
  EXPECT_EQ(comport::HandleCount(), start);
  EXPECT_TRUE(Profiles(*bus).empty());
  EXPECT_TRUE(errors.empty());
}

TEST(BluezConnectByChannel, KernelWithoutBluetoothRefusesWithItsWinsockCode) {
  if (auto missing = BluezStandIn::Missing(); !missing.empty()) GTEST_SKIP() << missing;
  int probe = ::socket(31 /* AF_BLUETOOTH */, SOCK_STREAM | SOCK_CLOEXEC, 3 /* RFCOMM */);
  if (probe >= 0) {
    ::close(probe);
    GTEST_SKIP() << "this kernel makes Bluetooth sockets";
  }
  BluezStandIn bus(kRadio);
  ASSERT_TRUE(bus.Ready());
  auto& ws = platform::Winsock();
  WSADATA data;
  ASSERT_EQ(ws.WSAStartup(0x0202, &data), 0);
  SOCKET s = ws.socket(AF_BTH, win32::SOCK_STREAM, BTHPROTO_RFCOMM);
  ASSERT_NE(s, INVALID_SOCKET);
  SOCKADDR_BTH addr{};
  addr.addressFamily = AF_BTH;
  addr.btAddr = 0xAABBCCDDEE01ull;
  addr.port = 5;
  EXPECT_EQ(ws.connect(s, reinterpret_cast<SOCKADDR*>(&addr), sizeof addr), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSAEAFNOSUPPORT);
  ws.closesocket(s);
  ws.WSACleanup();
}

TEST_F(BluezLinks, PickerAuthenticatePairsThroughThisProcessAgent) {
  auto& api = platform::BluetoothApi();
  auto previous = platform::SetDevicePicker([](const auto& choices) {
    for (std::size_t i = 0; i < choices.size(); ++i)
      if (choices[i].name == "Stranger") return static_cast<int>(i);
    return -1;
  });
  BLUETOOTH_SELECT_DEVICE_PARAMS select{};
  select.dwSize = sizeof select;
  select.fForceAuthentication = TRUE;
  ASSERT_TRUE(api.BluetoothSelectDevices(&select));
  EXPECT_EQ(select.pDevices[0].Address.ullLong, 0x112233445566ull);
  EXPECT_TRUE(select.pDevices[0].fAuthenticated);
  api.BluetoothSelectDevicesFree(&select);
  EXPECT_TRUE(Has(bus->Agents(), "NoInputNoOutput")) << bus->Agents();
  // Paired now: listed with the paired ones.
  std::vector<bluez::Adapter> adapters;
  std::vector<bluez::Device> devices;
  ASSERT_EQ(bluez::Objects(adapters, devices), 0);
  for (const auto& d : devices) EXPECT_TRUE(d.paired) << d.name;
  platform::SetDevicePicker(previous);
}

}  // namespace
}  // namespace quorlink::testing
