// Windows build: the serial records (DCB, COMSTAT) and constants are the
// SDK's (see platform/Types.h).
#pragma once

#include "Types.h"

namespace quorlink {

using ::COMSTAT;
using ::DCB;

}  // namespace quorlink
