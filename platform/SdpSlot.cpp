#include "platform/SdpApi.h"

namespace quorlink::platform {

namespace {
ApiSlot<ISdp> sdpSlot;
}  // namespace

ISdp& Sdp() {
  return sdpSlot.Get(OsSdp());
}
ISdp* SetSdp(ISdp* api) {
  return sdpSlot.Set(api);
}

}  // namespace quorlink::platform
