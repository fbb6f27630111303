#include "tools/SerialKeys.h"

#include <cstdio>

#include "quorlink/core/SysUtils.h"
#include "tools/Failures.h"
#include "tools/TerminalSession.h"

namespace quorlink::tools {

namespace {
// The rates Ctrl-A Ctrl-U and Ctrl-D step through.
constexpr DWORD kRateSteps[] = {300,   1200,   2400,   4800,   9600,   19200,  38400,
                                57600, 115200, 230400, 460800, 921600, 1000000};
}  // namespace

std::optional<TQuorBaudRate> EnumeratedRate(DWORD rate) {
  for (int r = br110; r <= br256000; ++r)
    if (BaudRateValue(static_cast<TQuorBaudRate>(r)) == rate) return static_cast<TQuorBaudRate>(r);
  return std::nullopt;
}

void SetRate(TQuorComPort& port, DWORD rate) {
  port.SetCustomBaudRate(0);
  if (auto enumerated = EnumeratedRate(rate))
    port.SetBaudRate(*enumerated);
  else
    port.SetCustomBaudRate(rate);
}

DWORD NextRate(DWORD now, bool up) {
  if (up) {
    for (DWORD r : kRateSteps)
      if (r > now) return r;
    return now;
  }
  DWORD below = now;
  for (DWORD r : kRateSteps)
    if (r < now) below = r;
  return below;
}

std::string SerialKeys::LinesText() {
  try {
    const TQuorModemLines lines = port_.GetModemStatus();
    std::string text;
    const char* names[] = {"CTS", "DSR", "RI", "DCD"};
    for (int l = mlCTS; l <= mlDCD; ++l)
      text += std::string(text.empty() ? "" : " ") + names[l] +
              (lines.Contains(static_cast<TQuorModemLine>(l)) ? " on" : " off");
    return text;
  } catch (const EQuorTransportException& e) {
    return std::string("modem lines unknown: ") + SysErrorMessage(e.GetErrorCode());
  }
}

void SerialKeys::ChangeRate(bool up) {
  // The rate is a setting of the next open: the port is opened again.
  const DWORD old = port_.GetLineRate();
  const DWORD rate = NextRate(old, up);
  port_.Close();
  SetRate(port_, rate);
  try {
    reopen_();
  } catch (const EQuorTransportException&) {
    SetRate(port_, old);
    reopen_();
    std::fprintf(stderr, "quorlink: the device refused %lu baud; still %lu\n",
                 static_cast<unsigned long>(rate), static_cast<unsigned long>(old));
    return;
  }
  std::fprintf(stderr, "quorlink: now %s\n",
               LineSettingsText(rate, format_.data, format_.parity, format_.stop).c_str());
}

bool SerialKeys::Run(char key) {
  if (!port_.IsActive()) {
    std::fprintf(stderr, "quorlink: the port is not open\n");
    return true;
  }
  try {
    switch (key) {
      case kKeyToggleDtr:
        port_.SetDTR(!dtr_);
        dtr_ = !dtr_;
        std::fprintf(stderr, "quorlink: DTR %s\n", dtr_ ? "on" : "off");
        break;
      case kKeyToggleRts:
        port_.SetRTS(!rts_);
        rts_ = !rts_;
        std::fprintf(stderr, "quorlink: RTS %s\n", rts_ ? "on" : "off");
        break;
      case kKeyBreak:
        port_.SendBreak(250);
        std::fprintf(stderr, "quorlink: break sent\n");
        break;
      case kKeyLines: {
        const TQuorLineErrors errors = port_.GetLineErrors();
        std::fprintf(
            stderr, "quorlink: %s; %s; breaks %lu, framing %lu, parity %lu, overruns %lu\n",
            LineSettingsText(port_.GetLineRate(), format_.data, format_.parity, format_.stop)
                .c_str(),
            LinesText().c_str(), static_cast<unsigned long>(errors.Breaks),
            static_cast<unsigned long>(errors.FramingErrors),
            static_cast<unsigned long>(errors.ParityErrors),
            static_cast<unsigned long>(errors.Overruns));
        break;
      }
      case kKeyRateUp:
      case kKeyRateDown:
        ChangeRate(key == kKeyRateUp);
        break;
      default:
        break;
    }
  } catch (const EQuorTransportException& e) {
    std::fprintf(stderr, "quorlink: %s %s\n", e.what(),
                 e.GetErrorCode() != 0 ? SysErrorMessage(e.GetErrorCode()).c_str() : "");
  }
  return port_.IsActive();
}

}  // namespace quorlink::tools
