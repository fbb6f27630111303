// The system's descriptions of the error codes the library can produce, in
// the words Windows uses, so that messages read the same on every platform.
#pragma once

#include "quorlink/platform/Types.h"

namespace quorlink::platform::posix {

// Null when the code is unknown.
const char* SystemErrorText(DWORD code);

}  // namespace quorlink::platform::posix
