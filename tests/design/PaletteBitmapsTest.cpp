#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "quorlink/design/PaletteBitmaps.h"

namespace quorlink {
namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// What a BMP reader checks before it trusts the pixels; the pixels, one index each.
std::vector<std::uint8_t> Pixels(const std::vector<std::uint8_t>& b) {
  EXPECT_GE(b.size(), 54u);
  if (b.size() < 54) return {};
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(U32(b, 2), b.size());
  EXPECT_EQ(U32(b, 14), 40u);  // BITMAPINFOHEADER
  EXPECT_EQ(static_cast<std::int32_t>(U32(b, 18)), 32);
  EXPECT_EQ(static_cast<std::int32_t>(U32(b, 22)), 32);  // bottom-up
  EXPECT_EQ(U16(b, 26), 1);
  EXPECT_EQ(U16(b, 28), 8);
  EXPECT_EQ(U32(b, 30), 0u);  // uncompressed
  const std::uint32_t colours = U32(b, 46) == 0 ? 256 : U32(b, 46);
  const std::uint32_t offset = U32(b, 10);
  EXPECT_GE(offset, 54 + colours * 4);
  EXPECT_EQ(b.size(), offset + 32u * 32u);  // 32-byte rows, no padding
  if (b.size() != offset + 32u * 32u) return {};
  std::vector<std::uint8_t> pixels(b.begin() + offset, b.end());
  for (std::uint8_t p : pixels) EXPECT_LT(p, colours);
  return pixels;
}

TEST(PaletteBitmaps, TwoDistinctDrawn32By32ImagesAtEightBitsFoundByName) {
  const auto* port = FindPaletteBitmap("TQUORCOMPORT");
  const auto* bt = FindPaletteBitmap("tquorbluetooth");
  ASSERT_NE(port, nullptr);
  ASSERT_NE(bt, nullptr);
  EXPECT_EQ(FindPaletteBitmap("TQUORCUSTOMTRANSPORT"), nullptr);
  EXPECT_EQ(PaletteBitmapNames(), (std::vector<std::string>{"TQUORCOMPORT", "TQUORBLUETOOTH"}));
  const auto portPixels = Pixels(*port);
  const auto btPixels = Pixels(*bt);
  EXPECT_NE(portPixels, btPixels);
  // Drawn: several colours each, not one flat fill.
  EXPECT_GE(std::set<std::uint8_t>(portPixels.begin(), portPixels.end()).size(), 3u);
  EXPECT_GE(std::set<std::uint8_t>(btPixels.begin(), btPixels.end()).size(), 3u);
}

}  // namespace
}  // namespace quorlink
