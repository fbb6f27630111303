/// @file
/// The palette images the library carries, one per registered component,
/// named after its class in capitals: "TQUORCOMPORT", "TQUORBLUETOOTH". Each
/// is a whole BMP file, 32 x 32 pixels at 8 bits per pixel. On Windows the
/// same images are resources of the library file. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quorlink/core/Export.h"

namespace quorlink {

/// The file's bytes, found by name without regard to case; null when the
/// library has no image of that name.
QUORLINK_API const std::vector<std::uint8_t>* FindPaletteBitmap(std::string_view name);
QUORLINK_API std::vector<std::string> PaletteBitmapNames();

}  // namespace quorlink
