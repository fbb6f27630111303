// Bluetooth client: connects to bt_server's service, sends a line, prints
// the answer and closes.
//
//   bt_client [RENDEZVOUS_DIR]
#include <quorlink/bluetooth/QuorBluetooth.h>
#include <quorlink/bluetooth/QuorBluetoothProvider.h>
#include <quorlink/core/Application.h>
#include <quorlink/core/Classes.h>

#include <cstdio>
#include <string>

using namespace quorlink;

int main(int argc, char** argv) {
  UseVirtualRadio(true, argc > 1 ? argv[1] : "");
  TQuorVirtualRadio radio(0x00000000E002, "example client");

  TQuorBluetooth client(nullptr);
  client.SetAddress("(00:00:00:00:E0:01)");     // the server's radio
  client.SetService("SerialPortServiceClass");  // the channel comes from its record
  std::string answer;
  client.OnConnect = [](TQuorCustomConnection* c) {
    const std::string line = "hello, server\n";
    c->Write(TQuorByteArray(line.begin(), line.end()));
  };
  client.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& bytes) {
    answer.append(bytes.begin(), bytes.end());
    if (answer.back() == '\n') Application().Terminate();  // the whole line is back
  };
  client.OnDisconnect = [](TQuorCustomConnection*) { Application().Terminate(); };
  // A connect that fails after Connect returned (no server, no such service)
  // arrives here, on the main thread; the transport is already closed.
  bool failed = false;
  client.OnError = [&](TObject*, const std::exception& e) {
    std::fprintf(stderr, "bt_client: %s\n", e.what());
    failed = true;
    if (!client.IsActive()) Application().Terminate();
  };

  try {
    client.Connect();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bt_client: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "bt_client: connecting to %s (is bt_server running?)\n",
               client.GetAddress().c_str());
  Application().Run();
  client.Close();
  if (failed && answer.empty()) {
    std::fprintf(stderr, "bt_client: no server answered\n");
    return 1;
  }
  std::printf("server answered: %s", answer.c_str());
  return answer == "HELLO, SERVER\n" ? 0 : 1;
}
