// The library driven from a GLib main loop: GLib watches the application's
// handle like any other descriptor and calls ProcessMessages when it is
// readable; every library event then runs inside that call, on this thread.
// A server and a client on one virtual radio exchange a line, then the loop
// quits.
//
//   glib_loop [RENDEZVOUS_DIR]
#include <glib-unix.h>
#include <glib.h>

#include <cstdio>
#include <string>

#include <quorlink/bluetooth/QuorBluetooth.h>
#include <quorlink/bluetooth/QuorBluetoothProvider.h>
#include <quorlink/core/Application.h>

using namespace quorlink;

int main(int argc, char** argv) {
  UseVirtualRadio(true, argc > 1 ? argv[1] : "");
  TQuorVirtualRadio radio(0x00000000E003, "glib example");
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);

  // The one line that joins the two loops.
  g_unix_fd_add(
      Application().Handle(), G_IO_IN,
      [](gint, GIOCondition, gpointer) -> gboolean {
        Application().ProcessMessages();
        return G_SOURCE_CONTINUE;
      },
      nullptr);
  g_timeout_add_seconds(
      10,
      [](gpointer l) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return G_SOURCE_REMOVE;
      },
      loop);

  TQuorBluetooth server(nullptr), client(nullptr);
  server.SetService("SerialPortServiceClass");
  server.OnRead = [](TQuorCustomConnection* c, const TQuorByteArray& b) { c->Write(b); };
  std::string echoed;
  client.OnConnect = [](TQuorCustomConnection* c) { c->Write({'p', 'i', 'n', 'g'}); };
  client.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& b) {
    echoed.append(b.begin(), b.end());
    if (echoed.size() == 4) g_main_loop_quit(loop);
  };

  server.Listen();
  client.SetAddress(radio.AddressText());
  client.SetService("SerialPortServiceClass");
  client.Connect();
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  std::printf("echoed through GLib's loop: %s\n", echoed.c_str());
  return echoed == "ping" ? 0 : 1;
}
