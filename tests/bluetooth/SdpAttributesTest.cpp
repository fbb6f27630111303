#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "quorlink/bluetooth/QuorBluetoothAPI.h"
#include "platform/Kernel.h"
#include "platform/posix/SdpStream.h"
#include "platform/virtual/VirtualRadio.h"

namespace quorlink {
namespace {

using Bytes = std::vector<BYTE>;

struct Seen {
  std::vector<std::pair<ULONG, Bytes>> attributes;
  std::size_t stopAfter = SIZE_MAX;
};

BOOL Collect(ULONG id, BYTE* value, ULONG size, void* param) {
  auto* seen = static_cast<Seen*>(param);
  seen->attributes.push_back({id, Bytes(value, value + size)});
  return seen->attributes.size() < seen->stopAfter ? TRUE : FALSE;
}

// A service record: ServiceRecordHandle 0x00010000, ServiceClassIDList
// {SerialPort}, ProtocolDescriptorList {{L2CAP}, {RFCOMM, channel 5}} and a
// 16-bit-length name.
const Bytes kRecord = {
    0x35, 0x2A,                                                  // sequence, 42 bytes
    0x09, 0x00, 0x00, 0x0A, 0x00, 0x01, 0x00, 0x00,              // 0x0000: uint32
    0x09, 0x00, 0x01, 0x35, 0x03, 0x19, 0x11, 0x01,              // 0x0001: {uuid16 0x1101}
    0x09, 0x00, 0x04, 0x35, 0x0C, 0x35, 0x03, 0x19, 0x01, 0x00,  // 0x0004: {{L2CAP},
    0x35, 0x05, 0x19, 0x00, 0x03, 0x08, 0x05,                    //  {RFCOMM, 5}}
    0x09, 0x01, 0x00, 0x26, 0x00, 0x03, 'S',  'P',  'P',         // 0x0100: text
};

// The library walks records itself on every OS; on Windows only while the
// virtual radio serves (Wine's own walk ends the process).
class SdpAttributes : public ::testing::Test {
 protected:
  SdpAttributes() { platform::vradio::Enable(true); }
  ~SdpAttributes() override { platform::vradio::Enable(false); }
};

TEST_F(SdpAttributes, VisitsEveryAttributeWithItsValueElement) {
  ASSERT_EQ(kRecord.size(), 44u);
  Bytes record = kRecord;
  Seen seen;
  EXPECT_NE(
      BluetoothEnumAttributes(record.data(), static_cast<ULONG>(record.size()), Collect, &seen),
      FALSE);
  ASSERT_EQ(seen.attributes.size(), 4u);
  EXPECT_EQ(seen.attributes[0].first, 0x0000u);
  EXPECT_EQ(seen.attributes[0].second, (Bytes{0x0A, 0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(seen.attributes[1].first, 0x0001u);
  EXPECT_EQ(seen.attributes[1].second, (Bytes{0x35, 0x03, 0x19, 0x11, 0x01}));
  EXPECT_EQ(seen.attributes[2].first, 0x0004u);
  EXPECT_EQ(seen.attributes[2].second.size(), 14u);
  EXPECT_EQ(seen.attributes[3].first, 0x0100u);
  EXPECT_EQ(seen.attributes[3].second, (Bytes{0x26, 0x00, 0x03, 'S', 'P', 'P'}));
}

TEST_F(SdpAttributes, StopsWhenTheCallbackSaysSo) {
  Bytes record = kRecord;
  Seen seen;
  seen.stopAfter = 2;
  EXPECT_NE(
      BluetoothEnumAttributes(record.data(), static_cast<ULONG>(record.size()), Collect, &seen),
      FALSE);
  EXPECT_EQ(seen.attributes.size(), 2u);
}

TEST_F(SdpAttributes, EmptyRecordHasNoAttributes) {
  Bytes record = {0x35, 0x00};
  Seen seen;
  EXPECT_NE(BluetoothEnumAttributes(record.data(), 2, Collect, &seen), FALSE);
  EXPECT_TRUE(seen.attributes.empty());
  record = {0x37, 0x00, 0x00, 0x00, 0x00};  // 32-bit length form
  EXPECT_NE(BluetoothEnumAttributes(record.data(), 5, Collect, &seen), FALSE);
}

TEST_F(SdpAttributes, MalformedRecordsFailWithoutAnyCallback) {
  const std::vector<Bytes> bad = {
      {},
      {0x35},
      {0x35, 0x01},                                                  // length past the end
      {0x35, 0x00, 0x00},                                            // trailing byte
      {0x3D, 0x00},                                                  // alternative is not a record
      {0x35, 0x03, 0x09, 0x00, 0x01},                                // id without a value
      {0x35, 0x05, 0x08, 0x01, 0x08, 0x01, 0x02},                    // id is uint8
      {0x35, 0x06, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x00},              // id is uint32
      {0x35, 0x04, 0x09, 0x00, 0x01, 0x0D},                          // bool with size index 5
      {0x35, 0x04, 0x09, 0x00, 0x01, 0x01},                          // nil with a size
      {0x35, 0x05, 0x09, 0x00, 0x01, 0x48, 0x00},                    // reserved type 9
      {0x35, 0x05, 0x09, 0x00, 0x01, 0x18, 0x00},                    // uuid8 does not exist
      {0x35, 0x05, 0x09, 0x00, 0x01, 0x20, 0x00},                    // text without a length
      {0x35, 0x05, 0x09, 0x00, 0x01, 0x0D, 0x01},                    // uint with a length field
      {0x35, 0x07, 0x09, 0x00, 0x01, 0x35, 0x03, 0x08, 0x01},        // child past its sequence
      {0x35, 0x08, 0x09, 0x00, 0x01, 0x35, 0x01, 0x08, 0x01, 0x00},  // child past its sequence
      {0x35, 0x08, 0x09, 0x00, 0x00, 0x08, 0x01, 0x09, 0x00, 0x01},  // last id without value
  };
  for (const Bytes& b : bad) {
    Bytes record = b;
    Seen seen;
    platform::Kernel().SetLastError(0);
    EXPECT_EQ(
        BluetoothEnumAttributes(record.data(), static_cast<ULONG>(record.size()), Collect, &seen),
        FALSE)
        << ::testing::PrintToString(b);
    EXPECT_TRUE(seen.attributes.empty()) << ::testing::PrintToString(b);
    EXPECT_EQ(platform::Kernel().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}

TEST_F(SdpAttributes, MissingStreamOrCallbackFails) {
  Bytes record = kRecord;
  Seen seen;
  EXPECT_EQ(BluetoothEnumAttributes(nullptr, 44, Collect, &seen), FALSE);
  EXPECT_EQ(BluetoothEnumAttributes(record.data(), 44, nullptr, &seen), FALSE);
  EXPECT_EQ(BluetoothEnumAttributes(record.data(), 43, Collect, &seen), FALSE) << "size counts";
}

TEST(SdpElement, DeepNestingIsWalkedWithoutRecursion) {
  // 100000 nested empty-length-prefixed sequences would overflow a recursive walk.
  const std::size_t depth = 100000;
  Bytes element;
  for (std::size_t i = 0; i < depth; ++i) {
    const std::size_t inner = (depth - i - 1) * 5;
    element.insert(element.end(),
                   {0x37, static_cast<BYTE>(inner >> 24), static_cast<BYTE>(inner >> 16),
                    static_cast<BYTE>(inner >> 8), static_cast<BYTE>(inner)});
  }
  EXPECT_TRUE(platform::posix::IsSdpElement(element.data(), element.size()));
  element.back() = 1;  // innermost claims a byte that is not there
  EXPECT_FALSE(platform::posix::IsSdpElement(element.data(), element.size()));
}

TEST(SdpElement, ExactlyOneElement) {
  const Bytes twoElements = {0x08, 0x01, 0x08, 0x02};
  EXPECT_FALSE(platform::posix::IsSdpElement(twoElements.data(), 4));
  EXPECT_TRUE(platform::posix::IsSdpElement(twoElements.data(), 2));
  const Bytes nil = {0x00};
  EXPECT_TRUE(platform::posix::IsSdpElement(nil.data(), 1));
  EXPECT_FALSE(platform::posix::IsSdpElement(nil.data(), 0));
  const Bytes uuid128 = {0x1C, 0, 0, 0x11, 0x01, 0,    0,    0x10, 0,
                         0x80, 0, 0, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
  EXPECT_TRUE(platform::posix::IsSdpElement(uuid128.data(), uuid128.size()));
  EXPECT_FALSE(platform::posix::IsSdpElement(uuid128.data(), uuid128.size() - 1));
}

}  // namespace
}  // namespace quorlink
