// Links through BlueZ against the stand-in bluetoothd: a listening transport
// fed by Profile1.NewConnection, connects by class through ConnectProfile,
// bluetoothd leaving and coming back, pairing through this process's agent,
// and descriptors after many cycles.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothConnection.h"
#include "bluez/BluezStandIn.h"
#include "quorlink/core/Classes.h"
#include "platform/BluetoothApi.h"
#include "platform/Winsock.h"
#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Endpoint.h"

namespace quorlink::testing {
namespace {

namespace bluez = platform::posix::bluez;

const char* const kRadio = R"({
  "adapters": [{"name": "hci0", "alias": "Desk radio"}],
  "devices": [{"adapter": "hci0", "address": "AA:BB:CC:DD:EE:01", "alias": "Headset",
               "paired": true},
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

std::size_t OpenDescriptors() {
  std::size_t n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
  }
  return n;
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
}

TEST_F(BluezLinks, ConnectByClassRunsThroughConnectProfileAndMapsEachFailure) {
  int far = Outgoing();
  ASSERT_EQ(client->ConnectionCount(), 1) << (errors.empty() ? 0 : errors[0]);
  ASSERT_GE(far, 0);
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

TEST_F(BluezLinks, BluetoothdLeavingEndsLinksAndALaterListenWorks) {
  server->Listen();
  int in = Incoming();
  int out = Outgoing();
  ASSERT_EQ(client->ConnectionCount(), 1);
  // A listener that stays open across the restart.
  Transport keeper;
  std::vector<std::string> keeperEvents;
  Attach(keeper, keeperEvents);
  keeper->Listen();
  // A connect bluetoothd is still paging for when it goes.
  Transport paging;
  std::vector<std::string> pagingEvents;
  Attach(paging, pagingEvents);
  paging->SetAddress("(11:22:33:44:55:66)");
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
  const std::size_t start = OpenDescriptors();
  for (int i = 0; i < 100 && !HasFatalFailure(); ++i) cycle();
  platform::Messages().ProcessMessage(0);
  EXPECT_EQ(OpenDescriptors(), start);
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
