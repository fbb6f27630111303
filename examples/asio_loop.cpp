// The library driven from an Asio io_context: a stream_descriptor waits for
// the application's handle to be readable, ProcessMessages runs the library's
// events, and the wait is armed again. A server and a client on one virtual
// radio exchange a line, then the context stops.
//
//   asio_loop [RENDEZVOUS_DIR]
#include <unistd.h>

#include <asio.hpp>
#include <cstdio>
#include <functional>
#include <string>

#include <quorlink/bluetooth/QuorBluetooth.h>
#include <quorlink/bluetooth/QuorBluetoothProvider.h>
#include <quorlink/core/Application.h>

using namespace quorlink;

int main(int argc, char** argv) {
  UseVirtualRadio(true, argc > 1 ? argv[1] : "");
  TQuorVirtualRadio radio(0x00000000E004, "asio example");
  asio::io_context io;

  // A copy of the handle, so that Asio closes its own descriptor only.
  asio::posix::stream_descriptor library(io, ::dup(Application().Handle()));
  std::function<void()> wait = [&] {
    library.async_wait(asio::posix::stream_descriptor::wait_read, [&](asio::error_code ec) {
      if (ec) return;
      Application().ProcessMessages();
      wait();
    });
  };
  wait();
  asio::steady_timer deadline(io, std::chrono::seconds(10));
  deadline.async_wait([&](asio::error_code) { io.stop(); });

  TQuorBluetooth server(nullptr), client(nullptr);
  server.SetService("SerialPortServiceClass");
  server.OnRead = [](TQuorCustomConnection* c, const TQuorByteArray& b) { c->Write(b); };
  std::string echoed;
  client.OnConnect = [](TQuorCustomConnection* c) { c->Write({'p', 'i', 'n', 'g'}); };
  client.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& b) {
    echoed.append(b.begin(), b.end());
    if (echoed.size() == 4) io.stop();
  };

  server.Listen();
  client.SetAddress(radio.AddressText());
  client.SetService("SerialPortServiceClass");
  client.Connect();
  io.run();
  std::printf("echoed through Asio's io_context: %s\n", echoed.c_str());
  return echoed == "ping" ? 0 : 1;
}
