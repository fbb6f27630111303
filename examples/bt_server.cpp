// Bluetooth server: publishes a serial-port service on a virtual radio and
// answers each line it receives in upper case. Ends after its first client
// has gone.
//
//   bt_server [RENDEZVOUS_DIR]    then bt_client in another terminal
//
// On a machine with a Bluetooth adapter, leave out UseVirtualRadio and the
// radio: BlueZ on Linux, or Windows' own Bluetooth, serves the same code.
#include <cctype>
#include <cstdio>
#include <string>

#include <quorlink/bluetooth/QuorBluetooth.h>
#include <quorlink/bluetooth/QuorBluetoothProvider.h>
#include <quorlink/core/Application.h>

using namespace quorlink;

int main(int argc, char** argv) {
  UseVirtualRadio(true, argc > 1 ? argv[1] : "");
  TQuorVirtualRadio radio(0x00000000E001, "example server");

  TQuorBluetooth server(nullptr);
  server.SetService("SerialPortServiceClass");
  server.SetServiceName("Upper-case echo");
  server.OnConnect = [](TQuorCustomConnection* c) {
    std::printf("link from %s\n", c->GetRemoteAddress().c_str());
  };
  server.OnRead = [](TQuorCustomConnection* c, const TQuorByteArray& bytes) {
    TQuorByteArray reply(bytes);
    for (auto& b : reply) b = static_cast<std::uint8_t>(std::toupper(b));
    c->Write(reply);
  };
  server.OnDisconnect = [](TQuorCustomConnection*) { Application().Terminate(); };

  server.Listen();
  std::printf("listening on %s\n", server.GetLocalAddress().c_str());
  std::fflush(stdout);
  Application().Run();
  server.Close();
  WaitForBluetoothDrains(std::chrono::seconds(5));  // let the last reply leave
  return 0;
}
