// The SDP attribute walk: any stream is either rejected before any callback,
// or every value handed out lies inside the stream and is one element.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/SdpApi.h"
#include "platform/posix/SdpStream.h"

using namespace quorlink;

namespace {

struct Walk {
  const BYTE* begin;
  const BYTE* end;
  int calls = 0;
  int stopAt;
};

BOOL Visit(ULONG id, BYTE* value, ULONG size, void* param) {
  auto* walk = static_cast<Walk*>(param);
  if (id > 0xFFFF || value < walk->begin || value + size > walk->end ||
      !platform::posix::IsSdpElement(value, size)) {
    std::abort();
  }
  return ++walk->calls < walk->stopAt ? TRUE : FALSE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses where the callback stops the walk.
  const int stopAt = data[0] == 0 ? 1 << 30 : data[0];
  std::vector<BYTE> stream(data + 1, data + size);
  Walk walk{stream.data(), stream.data() + stream.size(), 0, stopAt};
  const BOOL ok = platform::Sdp().BluetoothSdpEnumAttributes(
      stream.data(), static_cast<ULONG>(stream.size()), Visit, &walk);
  if (!ok && walk.calls != 0) std::abort();
  if (ok && walk.calls > stopAt) std::abort();
  platform::posix::IsSdpElement(stream.data(), stream.size());
  return 0;
}
