// The operating-system types and constants the library speaks in: the Win32
// names. The build picks the copy: on Windows the SDK's own declarations
// brought into quorlink, elsewhere the library's definitions of the same
// values and layouts (include/windows/ and include/posix/).
#pragma once

#include "quorlink/platform/os/Types.h"
