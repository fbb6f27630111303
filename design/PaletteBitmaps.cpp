// The palette images, drawn here as characters so that they can be read and
// changed as text; each is made into a BMP file (32 x 32, 8 bits per pixel,
// bottom-up rows, a 256-entry colour table) when first asked for.
#include "quorlink/design/PaletteBitmaps.h"

#include <array>
#include <cctype>
#include <cstring>
#include <map>

namespace quorlink {

namespace {

constexpr int kSize = 32;

struct TColour {
  char Key;
  std::uint8_t Red, Green, Blue;
};

// The background comes first; it is also the lower left pixel, the colour the
// palette takes as transparent.
constexpr std::array<TColour, 8> kColours{{{'.', 0xC0, 0xC0, 0xC0},
                                           {'#', 0x00, 0x00, 0x00},
                                           {'s', 0xE4, 0xE4, 0xE4},
                                           {'g', 0x60, 0x60, 0x60},
                                           {'y', 0xD4, 0xA0, 0x17},
                                           {'b', 0x00, 0x82, 0xFC},
                                           {'c', 0x00, 0x50, 0xA0},
                                           {'w', 0xFF, 0xFF, 0xFF}}};

// A nine-pin serial connector, seen from the front.
constexpr const char* const kComPort[kSize] = {
    "................................", "................................",
    "................................", "................................",
    "................................", "................................",
    "................................", ".##############################.",
    ".#ssssssssssssssssssssssssssss#.", ".#ssssssssssssssssssssssssssss#.",
    ".#sssss##################sssss#.", ".#sssss#gggggggggggggggg#sssss#.",
    ".#sssss#gggggggggggggggg#sssss#.", ".#ssssss#yygyygyygyygyy#ssssss#.",
    ".#sgggss#yygyygyygyygyy#ssgggs#.", ".#sg#gss#gggggggggggggg#ssg#gs#.",
    ".#sg#gss#gggggggggggggg#ssg#gs#.", ".#sgggsss#gyygyygyygyy#sssgggs#.",
    ".#sssssss#gyygyygyygyy#sssssss#.", ".#sssssss#gggggggggggg#sssssss#.",
    ".#sssssss#gggggggggggg#sssssss#.", ".#sssssss##############sssssss#.",
    ".#ssssssssssssssssssssssssssss#.", ".#ssssssssssssssssssssssssssss#.",
    ".##############################.", "................................",
    "................................", "................................",
    "................................", "................................",
    "................................", "................................"};

// The Bluetooth mark on its blue badge.
constexpr const char* const kBluetooth[kSize] = {
    "................................", "................................",
    "..........cccccccccccc..........", ".........cbbbbbbbbbbbbc.........",
    "........cbbbbbbbbbbbbbbc........", ".......cbbbbbbbwwwbbbbbbc.......",
    ".......cbbbbbbbwwwwbbbbbc.......", "......cbbbbbbbbwwwwwbbbbbc......",
    "......cbbbbbbbbwwwwwwbbbbc......", "......cbbbwbbbbwwbwwwwbbbc......",
    "......bbbwwwbbbwwbbwwwbbbb......", "......bbbbwwwbbwwbbwwwbbbb......",
    "......bbbbbwwwbwwbwwwwbbbb......", "......bbbbbbwwwwwwwwbbbbbb......",
    "......bbbbbbbwwwwwwbbbbbbb......", "......bbbbbbbbwwwwbbbbbbbb......",
    "......bbbbbbbbwwwwwbbbbbbb......", "......bbbbbbbwwwwwwwbbbbbb......",
    "......bbbbbbwwwwwbwwwbbbbb......", "......bbbbbwwwbwwbbwwwbbbb......",
    "......bbbbwwwbbwwbbbwwwbbb......", "......bbbwwwbbbwwbbwwwbbbb......",
    "......cbbbwbbbbwwbwwwbbbbc......", "......cbbbbbbbbwwwwwbbbbbc......",
    "......cbbbbbbbbwwwwbbbbbbc......", ".......cbbbbbbbwwwbbbbbbc.......",
    ".......cbbbbbbbwwbbbbbbbc.......", "........cbbbbbbbbbbbbbbc........",
    ".........cbbbbbbbbbbbbc.........", "..........cccccccccccc..........",
    "................................", "................................"};

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint8_t IndexOf(char key) {
  for (std::size_t i = 0; i < kColours.size(); ++i)
    if (kColours[i].Key == key) return static_cast<std::uint8_t>(i);
  return 0;
}

std::vector<std::uint8_t> MakeBitmap(const char* const (&rows)[kSize]) {
  constexpr std::size_t kFileHeader = 14, kInfoHeader = 40, kTable = 256 * 4;
  constexpr std::size_t kPixels = kSize * kSize;  // 32-byte rows need no padding
  constexpr std::size_t kOffset = kFileHeader + kInfoHeader + kTable;
  std::vector<std::uint8_t> out(kOffset + kPixels, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<std::uint32_t>(out.size()));
  Put32(out, 10, kOffset);
  Put32(out, 14, kInfoHeader);
  Put32(out, 18, kSize);  // width
  Put32(out, 22, kSize);  // height, positive: bottom-up
  Put16(out, 26, 1);      // planes
  Put16(out, 28, 8);      // bits per pixel
  Put32(out, 34, kPixels);
  Put32(out, 38, 2835);  // 72 dots per inch
  Put32(out, 42, 2835);
  for (std::size_t i = 0; i < kColours.size(); ++i) {
    const std::size_t at = kFileHeader + kInfoHeader + i * 4;
    out[at] = kColours[i].Blue;
    out[at + 1] = kColours[i].Green;
    out[at + 2] = kColours[i].Red;
  }
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      out[kOffset + static_cast<std::size_t>((kSize - 1 - y) * kSize + x)] = IndexOf(rows[y][x]);
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

std::vector<std::string> PaletteBitmapNames() {
  return {"TQUORCOMPORT", "TQUORBLUETOOTH"};
}

const std::vector<std::uint8_t>* FindPaletteBitmap(std::string_view name) {
  // Made once, on first use; constant afterwards.
  static const std::vector<std::uint8_t> comPort = MakeBitmap(kComPort);
  static const std::vector<std::uint8_t> bluetooth = MakeBitmap(kBluetooth);
  if (SameName(name, "TQUORCOMPORT")) return &comPort;
  if (SameName(name, "TQUORBLUETOOTH")) return &bluetooth;
  return nullptr;
}

}  // namespace quorlink
