// What a serial read thread posts to its connection's window.
#pragma once

#include "quorlink/comport/QuorComPort.h"

namespace quorlink {

// The port failed for good; the reason is in the read link.
constexpr UINT QUORM_PORT_FAILED = WM_USER + 0x210;
// A modem input line changed; WParam holds the MS_ status now.
constexpr UINT QUORM_MODEM_CHANGE = WM_USER + 0x211;

// The input lines up in an MS_ status.
inline TQuorModemLines ModemLines(DWORD status) {
  std::uint8_t bits = 0;
  if ((status & MS_CTS_ON) != 0) bits |= 1u << mlCTS;
  if ((status & MS_DSR_ON) != 0) bits |= 1u << mlDSR;
  if ((status & MS_RING_ON) != 0) bits |= 1u << mlRI;
  if ((status & MS_RLSD_ON) != 0) bits |= 1u << mlDCD;
  return TQuorModemLines::FromBits(bits);
}

}  // namespace quorlink
