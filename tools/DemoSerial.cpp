// The serial section of `quorlink demo`: a cable (see tools/DemoCable.h) with
// a device on the far end.
#include <cstdio>
#include <string>

#include "quorlink/comport/QuorComPort.h"
#include "platform/Kernel.h"
#include "tools/Commands.h"
#include "tools/DemoCable.h"
#include "tools/Pump.h"

namespace quorlink::tools {
namespace {

std::string Quoted(const TQuorByteArray& bytes) {
  return "\"" + std::string(bytes.begin(), bytes.end()) + "\"";
}

// Runs the main loop until `done` holds; false after two seconds.
int SerialDemo() {
  std::string why;
  const auto cable = OpenDemoCable(why);
  if (!cable) return Fail("serial demo: " + why);
  const unsigned kDemoPort = cable->PortNumber();
  std::printf("%s\n", cable->Describe().c_str());

  TQuorByteArray received;
  TQuorComPort port(nullptr);
  port.SetPort(kDemoPort);
  port.SetBaudRate(br9600);
  port.OnConnect = [](TQuorCustomConnection* c) {
    std::printf("  OnConnect     %s\n", c->GetLocalName().c_str());
  };
  port.OnRead = [&](TQuorCustomConnection* c, const TQuorByteArray& buf) {
    std::printf("  OnRead        %s: %zu bytes %s\n", c->GetLocalName().c_str(), buf.size(),
                Quoted(buf).c_str());
    received.insert(received.end(), buf.begin(), buf.end());
  };
  port.OnDisconnect = [](TQuorCustomConnection* c) {
    std::printf("  OnDisconnect  %s\n", c->GetLocalName().c_str());
  };

  try {
    std::printf("Connect %s at 9600 8N1\n", port.GetPortName().c_str());
    port.Connect();
    const char* const fromDevice[] = {"hello from the device", "AT+VERSION?"};
    const std::string fromPort[] = {"hello from COM" + std::to_string(kDemoPort), "VERSION=1.1"};
    for (int i = 0; i < 2; ++i) {
      const std::string sent = fromDevice[i];
      std::printf("device writes   \"%s\"\n", sent.c_str());
      received.clear();
      cable->Write(sent);
      if (!PumpUntil([&] { return received.size() >= sent.size(); }, 400))
        return Fail("serial demo: the port did not receive");
      const std::string reply = fromPort[i];
      std::printf("Write           \"%s\"\n", reply.c_str());
      port.GetConnections(0)->Write(TQuorByteArray(reply.begin(), reply.end()));
      const auto got = cable->Read(reply.size(), 2000);
      std::printf("device reads    %s\n", Quoted(got).c_str());
      if (got.size() != reply.size()) return Fail("serial demo: the device did not receive");
    }
    std::printf("Close\n");
    port.Close();
    std::printf("Active after Close: %s\n", port.IsActive() ? "yes" : "no");
  } catch (const std::exception& e) {
    return Fail(std::string("serial demo: ") + e.what());
  }
  return 0;
}

const DemoRegistrar serialSection(10, "Serial port on a cable", SerialDemo);

}  // namespace
}  // namespace quorlink::tools
