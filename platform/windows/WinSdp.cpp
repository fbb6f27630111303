// The SDP record walk on Windows: the library's own walk with the virtual
// radio (Wine's BluetoothSdpEnumAttributes ends the process), the system's
// otherwise.
#include "platform/LibrarySdp.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink::platform {

namespace {

class WinSdp final : public ISdp {
 public:
  BOOL BluetoothSdpEnumAttributes(BYTE* stream, ULONG size,
                                  PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK callback,
                                  void* param) override {
    if (vradio::Enabled())
      return LibrarySdp().BluetoothSdpEnumAttributes(stream, size, callback, param);
    return ::BluetoothSdpEnumAttributes(stream, size, callback, param);
  }
};

}  // namespace

ISdp& OsSdp() {
  static WinSdp* sdp = new WinSdp;
  return *sdp;
}

}  // namespace quorlink::platform
