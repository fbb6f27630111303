#include "platform/LibrarySdp.h"

namespace quorlink::platform {

ISdp& OsSdp() {
  return LibrarySdp();
}

}  // namespace quorlink::platform
