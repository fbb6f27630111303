// The serial terminal's port keys (Ctrl-A Ctrl-T, Ctrl-G, Ctrl-\, Ctrl-V,
// Ctrl-U, Ctrl-D): each acts on the open port and says on standard error
// what it did. Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "quorlink/comport/QuorComPort.h"

namespace quorlink::tools {

// The enumeration's value for a rate, when it has one.
std::optional<TQuorBaudRate> EnumeratedRate(DWORD rate);
// Sets the port's rate for the next open, through the enumeration where it
// has the rate.
void SetRate(TQuorComPort& port, DWORD rate);
// The next rate of the steps above (up) or below `now`; `now` at either end.
DWORD NextRate(DWORD now, bool up);

class SerialKeys {
 public:
  struct Format {
    int data, parity, stop;  // as LineSettingsText takes them
  };
  // reopen opens the port again (after a rate change); dtr and rts are the
  // lines as last set, for the toggles.
  SerialKeys(TQuorComPort& port, Format format, std::function<void()> reopen, bool dtr, bool rts)
      : port_(port), format_(format), reopen_(std::move(reopen)), dtr_(dtr), rts_(rts) {}
  // False when the port is left closed (it could not be opened again).
  bool Run(char key);

 private:
  std::string LinesText();
  void ChangeRate(bool up);

  TQuorComPort& port_;
  Format format_;
  std::function<void()> reopen_;
  bool dtr_, rts_;
};

}  // namespace quorlink::tools
