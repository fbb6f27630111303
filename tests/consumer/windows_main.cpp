// A Windows program outside the tree, built only with what quorlink.pc says:
// the Bluetooth transport (Winsock and the Bluetooth API behind it), a
// message through the loop (the library's windows), and the version.
#include <quorlink/bluetooth/QuorBluetooth.h>
#include <quorlink/core/Application.h>
#include <quorlink/core/Version.h>

#include <cstdio>
#include <string>

using namespace quorlink;

int main() {
  TQuorBluetooth bt(nullptr);
  bt.SetPort(3);
  bt.SetAddress("(00:00:00:00:00:01)");
  std::string outcome = "connecting";
  try {
    bt.Connect();  // no radio here: a failure now or in the loop is fine
  } catch (const Exception& e) {
    outcome = e.Message();
  }
  bt.Close();

  bool delivered = false;
  HWND window = AllocateHWnd([&](TMessage&) { delivered = true; });
  quorlink::PostMessage(window, WM_USER, 0, 0);
  Application().ProcessMessages();
  DeallocateHWnd(window);
  if (!delivered) return std::fprintf(stderr, "consumer: the message was not delivered\n"), 1;
  std::printf("quorlink %s on Windows: channel %lu (%s)\n", QUORLINK_VERSION_STRING,
              static_cast<unsigned long>(bt.GetPort()), outcome.c_str());
  return 0;
}
