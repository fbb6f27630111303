// Serial echo: opens a port at 115200 8N1 and sends back every byte it
// receives, until the port fails or goes away.
//
//   serial_echo /dev/ttyUSB0        a device path (bound to COM1 here)
//   serial_echo COM3                /dev/ttyS2 on Linux
#include <cstdio>
#include <string>

#include <quorlink/comport/QuorComPort.h>
#include <quorlink/core/Application.h>
#include <quorlink/platform/Serial.h>

using namespace quorlink;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: serial_echo PORT\n");
    return 2;
  }
  // The component names its port by number, "COMn"; any n can be bound to a
  // device path first.
  auto number = platform::ComPortNumber(argv[1]);
  if (!number) {
    number = 1;
    platform::BindComPort(*number, argv[1]);
  }

  TQuorComPort com(nullptr);
  com.SetPort(static_cast<std::uint8_t>(*number));
  com.SetBaudRate(br115200);
  com.OnConnect = [](TQuorCustomConnection* c) {
    std::printf("echoing on %s\n", c->GetLocalName().c_str());
    std::fflush(stdout);
  };
  com.OnRead = [](TQuorCustomConnection* c, const TQuorByteArray& bytes) { c->Write(bytes); };
  com.OnDisconnect = [](TQuorCustomConnection*) { Application().Terminate(); };

  try {
    com.Connect();  // opens the port; raises with the reason when it cannot
  } catch (const std::exception& e) {
    std::fprintf(stderr, "serial_echo: %s: %s\n", argv[1], e.what());
    return 1;
  }
  Application().Run();  // every event arrives here, on this thread
  return 0;
}
