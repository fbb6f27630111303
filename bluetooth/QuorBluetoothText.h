// The radio and device names of the Bluetooth API as 8-bit text.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Types.h"

namespace quorlink {

// Up to the first zero or max characters, UTF-16 to UTF-8.
std::string NarrowName(const WCHAR* text, std::size_t max);

}  // namespace quorlink
