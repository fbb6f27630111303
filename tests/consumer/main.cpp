// A program outside the tree: it sees only the installed headers and links
// only what the library exports. It opens a port that does not exist (the
// exception and its message cross the library's boundary), runs a message
// through the loop, and prints the version it was built against.
#include <cstdio>
#include <string>

#include <quorlink/comport/QuorComPort.h>
#include <quorlink/core/Application.h>
#include <quorlink/core/Version.h>
#include <quorlink/platform/Serial.h>

using namespace quorlink;

int main() {
  platform::BindComPort(7, "/nonexistent/quorlink-consumer");
  TQuorComPort port(nullptr);
  port.SetPort(7);
  std::string failure;
  try {
    port.Connect();
  } catch (const Exception& e) {
    failure = e.Message();
  }
  if (failure.empty()) return std::fprintf(stderr, "consumer: opening a missing port passed\n"), 1;

  bool delivered = false;
  HWND window = AllocateHWnd([&](TMessage&) { delivered = true; });
  PostMessage(window, WM_USER, 0, 0);
  Application().ProcessMessages();
  DeallocateHWnd(window);
  if (!delivered) return std::fprintf(stderr, "consumer: the message was not delivered\n"), 1;

  std::printf("quorlink %s: %s (\"%s\")\n", QUORLINK_VERSION_STRING, port.GetPortName().c_str(),
              failure.c_str());
  return 0;
}
