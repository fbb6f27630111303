// The SDP attribute walk done by the library itself, for systems without a
// usable one of their own (POSIX; Windows with the virtual radio, where
// Wine's ends the process).
#pragma once

#include "platform/SdpApi.h"

namespace quorlink::platform {

ISdp& LibrarySdp();

}  // namespace quorlink::platform
