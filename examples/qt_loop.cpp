// The library driven from a Qt event loop: a QSocketNotifier watches the
// application's handle and calls ProcessMessages when it is readable; every
// library event then runs inside that call, on Qt's thread, so handlers may
// touch Qt objects directly. A server and a client on one virtual radio
// exchange a line, then the loop quits.
//
//   qt_loop [RENDEZVOUS_DIR]
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <string>

#include <quorlink/bluetooth/QuorBluetooth.h>
#include <quorlink/bluetooth/QuorBluetoothProvider.h>
#include <quorlink/core/Application.h>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  quorlink::UseVirtualRadio(true, argc > 1 ? argv[1] : "");
  quorlink::TQuorVirtualRadio radio(0x00000000E004, "qt example");

  // Made before the first transport opens, so that Qt's thread is the
  // library's main thread.
  QSocketNotifier notifier(quorlink::Application().Handle(), QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated,
                   [] { quorlink::Application().ProcessMessages(); });
  QTimer::singleShot(10000, &app, [&] { app.exit(1); });

  quorlink::TQuorBluetooth server(nullptr), client(nullptr);
  server.SetService("SerialPortServiceClass");
  server.OnRead = [](quorlink::TQuorCustomConnection* c, const quorlink::TQuorByteArray& b) {
    c->Write(b);
  };
  std::string echoed;
  client.OnConnect = [](quorlink::TQuorCustomConnection* c) { c->Write({'p', 'i', 'n', 'g'}); };
  client.OnRead = [&](quorlink::TQuorCustomConnection*, const quorlink::TQuorByteArray& b) {
    echoed.append(b.begin(), b.end());
    if (echoed.size() == 4) app.quit();
  };
  client.OnError = [&](quorlink::TObject*, const std::exception& e) {
    std::fprintf(stderr, "qt_loop: %s\n", e.what());
    app.exit(1);
  };

  server.Listen();
  client.SetAddress(radio.AddressText());
  client.SetService("SerialPortServiceClass");
  client.Connect();
  const int rc = app.exec();
  std::printf("echoed through Qt's loop: %s\n", echoed.c_str());
  return rc == 0 && echoed == "ping" ? 0 : 1;
}
