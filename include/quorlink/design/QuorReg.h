/// @file
/// What the designer calls when it loads the library: the palette page
/// "Quorlink" with the two transports, and the library's property editors.
#pragma once

#include "quorlink/core/Export.h"

namespace quorlink {

/// Once per designer (or per registry installed with SetDesignRegistry).
QUORLINK_API void Register();

}  // namespace quorlink
