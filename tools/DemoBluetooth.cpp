// The Bluetooth section of `quorlink demo`: a server on one virtual radio, a
// client on another, in a rendezvous directory of the demo's own.

#include <cstdio>
#include <string>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/platform/Messages.h"
#include "platform/virtual/VirtualRadio.h"
#include "tests/support/VirtualRadios.h"
#include "tools/Commands.h"
#include "tools/Host.h"
#include "tools/Pump.h"

namespace quorlink::tools {
namespace {

namespace vradio = platform::vradio;

constexpr std::uint64_t kServer = 0x00DE00000001ull;
constexpr std::uint64_t kClient = 0x00DE00000002ull;

// Runs the main loop until `done` holds; false after five seconds.
std::string Text(const TQuorByteArray& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

int Session() {
  auto* server = new TQuorBluetooth(nullptr);
  auto* client = new TQuorBluetooth(nullptr);
  struct Release {
    TQuorBluetooth* a;
    TQuorBluetooth* b;
    ~Release() {
      Free(b);
      Free(a);
    }
  } release{server, client};

  std::string atServer, atClient;
  server->OnConnect = [](TQuorCustomConnection* c) {
    std::printf("  server OnConnect     link from %s \"%s\"\n", c->GetRemoteAddress().c_str(),
                c->GetRemoteName().c_str());
  };
  server->OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    std::printf("  server OnRead        %zu bytes \"%s\"\n", buf.size(), Text(buf).c_str());
    atServer += Text(buf);
  };
  server->OnDisconnect = [](TQuorCustomConnection*) {
    std::printf("  server OnDisconnect  the link is gone; still listening\n");
  };
  client->OnConnect = [](TQuorCustomConnection* c) {
    std::printf("  client OnConnect     local %s \"%s\", remote %s \"%s\"\n",
                c->GetLocalAddress().c_str(), c->GetLocalName().c_str(),
                c->GetRemoteAddress().c_str(), c->GetRemoteName().c_str());
  };
  client->OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    std::printf("  client OnRead        %zu bytes \"%s\"\n", buf.size(), Text(buf).c_str());
    atClient += Text(buf);
  };
  client->OnDisconnect = [](TQuorCustomConnection*) { std::printf("  client OnDisconnect\n"); };

  server->SetService("SerialPortServiceClass");
  server->SetServiceName("Quorlink demo echo");
  server->SetServiceComment("the demo's server");
  {
    vradio::ScopedDefaultRadio radio(kServer);
    server->Listen();
  }
  std::printf("Server listens on %s (radio \"%s\")\n", server->GetLocalAddress().c_str(),
              server->GetLocalName().c_str());
  for (const auto& r : vradio::Services(kServer))
    std::printf("  record published: \"%s\" (%s), channel %u\n", r.name.c_str(), r.comment.c_str(),
                r.channel);

  client->SetAddress(server->GetLocalAddress().substr(0, 19));
  client->SetService("SerialPortServiceClass");
  std::printf("Client connects to %s, service %s (channel found from the record)\n",
              client->GetAddress().c_str(), client->GetService().c_str());
  {
    vradio::ScopedDefaultRadio radio(kClient);
    client->Connect();
  }
  if (!PumpUntil([&] { return client->ConnectionCount() == 1 && server->ConnectionCount() == 1; },
                 1000))
    return Fail("bluetooth demo: no link");

  const std::string ask = "hello from the client";
  const std::string answer = "hello from the server";
  client->GetConnections(0)->Write(TQuorByteArray(ask.begin(), ask.end()));
  if (!PumpUntil([&] { return atServer.size() >= ask.size(); }, 1000))
    return Fail("bluetooth demo: the server did not receive");
  server->GetConnections(0)->Write(TQuorByteArray(answer.begin(), answer.end()));
  if (!PumpUntil([&] { return atClient.size() >= answer.size(); }, 1000))
    return Fail("bluetooth demo: the client did not receive");
  auto* link = server->GetConnections(0);
  std::printf("Server link: local %s \"%s\", remote %s \"%s\"\n", link->GetLocalAddress().c_str(),
              link->GetLocalName().c_str(), link->GetRemoteAddress().c_str(),
              link->GetRemoteName().c_str());

  std::printf("Client closes\n");
  client->Close();
  if (!PumpUntil([&] { return server->ConnectionCount() == 0; }, 1000))
    return Fail("bluetooth demo: the server kept the link");
  server->Close();
  std::printf("Server closed: %zu service record(s) left on its radio\n",
              vradio::Services(kServer).size());
  return atServer == ask && atClient == answer ? 0 : Fail("bluetooth demo: bytes differ");
}

int BluetoothDemo() {
  const std::string dir = MakeTemporaryDirectory("quorlink-demo-");
  if (dir.empty()) return Fail("bluetooth demo: no directory");
  vradio::SetRendezvousDirectory(dir);
  vradio::Enable(true);
  std::printf("Two virtual radios (no Bluetooth hardware), meeting in %s\n", dir.c_str());
  int rc;
  try {
    vradio::Radio serverRadio(kServer, "Demo server radio");
    vradio::Radio clientRadio(kClient, "Demo client radio");
    rc = Session();
  } catch (const std::exception& e) {
    rc = Fail(std::string("bluetooth demo: ") + e.what());
  }
  vradio::Enable(false);
  testing::VirtualRadios::RemoveDirectory(dir);
  vradio::SetRendezvousDirectory("");
  return rc;
}

const DemoRegistrar bluetoothSection(20, "Bluetooth RFCOMM on two virtual radios", BluetoothDemo);

}  // namespace
}  // namespace quorlink::tools
