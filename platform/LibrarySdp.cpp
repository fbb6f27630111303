#include "platform/LibrarySdp.h"

#include "platform/Kernel.h"
#include "platform/posix/SdpStream.h"

namespace quorlink::platform {

namespace {

class OwnWalk final : public ISdp {
 public:
  BOOL BluetoothSdpEnumAttributes(BYTE* stream, ULONG size,
                                  PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK callback,
                                  void* param) override {
    const bool valid =
        callback != nullptr &&
        posix::WalkSdpAttributes(
            stream, size, [&](std::uint16_t id, const std::uint8_t* value, std::size_t length) {
              return callback(id, const_cast<BYTE*>(value), static_cast<ULONG>(length), param) != 0;
            });
    if (!valid) {
      OsKernel().SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return TRUE;
  }
};

}  // namespace

ISdp& LibrarySdp() {
  static OwnWalk* sdp = new OwnWalk;  // used by other statics' destructors
  return *sdp;
}

}  // namespace quorlink::platform
