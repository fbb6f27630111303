// The Bluetooth API's walk over an SDP record's attributes. Any thread.
#pragma once

#include "quorlink/platform/ApiSlot.h"
#include "quorlink/platform/BluetoothTypes.h"

namespace quorlink::platform {

class ISdp {
 public:
  virtual ~ISdp() = default;

  // Calls callback with each attribute id and its value element of the
  // record in stream, until it returns false. TRUE when the stream is a
  // valid record (whether or not the walk was stopped); FALSE with
  // ERROR_INVALID_PARAMETER as the last error, and no call, otherwise.
  virtual BOOL BluetoothSdpEnumAttributes(BYTE* stream, ULONG size,
                                          PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK callback,
                                          void* param) = 0;
};

ISdp& Sdp();
ISdp& OsSdp();  // defined by the build's OS backend
ISdp* SetSdp(ISdp* api);
using ScopedSdp = ScopedApi<ISdp, SetSdp>;

}  // namespace quorlink::platform
