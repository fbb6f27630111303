// The SDP record walk on Windows: the library's own walk with the virtual
// radio (Wine's BluetoothSdpEnumAttributes ends the process), the system's
// otherwise.

#include "platform/SdpApi.h"
#include "platform/posix/SdpStream.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink::platform {

namespace {

class WinSdp final : public ISdp {
 public:
  BOOL BluetoothSdpEnumAttributes(BYTE* stream, ULONG size,
                                  PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK callback,
                                  void* param) override {
    if (!vradio::Enabled()) return ::BluetoothSdpEnumAttributes(stream, size, callback, param);
    const bool valid =
        callback != nullptr &&
        posix::WalkSdpAttributes(
            stream, size, [&](std::uint16_t id, const std::uint8_t* value, std::size_t length) {
              return callback(id, const_cast<BYTE*>(value), static_cast<ULONG>(length), param) != 0;
            });
    if (!valid) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return TRUE;
  }
};

}  // namespace

ISdp& OsSdp() {
  static WinSdp* sdp = new WinSdp;
  return *sdp;
}

}  // namespace quorlink::platform
