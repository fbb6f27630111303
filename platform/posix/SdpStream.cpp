#include "platform/posix/SdpStream.h"

#include <vector>

namespace quorlink::platform::posix {

namespace {

enum ElementType : std::uint8_t {
  kNil = 0,
  kUint = 1,
  kInt = 2,
  kUuid = 3,
  kText = 4,
  kBool = 5,
  kSequence = 6,
  kAlternative = 7,
  kUrl = 8,
};

struct Element {
  std::uint8_t type;
  std::size_t headerSize;  // header byte and length field
  std::size_t dataSize;
  std::size_t Total() const { return headerSize + dataSize; }
};

// Reads the header at data[0..available); false when it is malformed or
// does not fit, the data included.
bool ReadHeader(const std::uint8_t* data, std::size_t available, Element& e) {
  if (available == 0) return false;
  const std::uint8_t type = data[0] >> 3;
  const std::uint8_t sizeIndex = data[0] & 0x07;
  e.type = type;
  e.headerSize = 1;
  switch (sizeIndex) {
    case 0:
      e.dataSize = type == kNil ? 0 : 1;
      break;
    case 1:
      e.dataSize = 2;
      break;
    case 2:
      e.dataSize = 4;
      break;
    case 3:
      e.dataSize = 8;
      break;
    case 4:
      e.dataSize = 16;
      break;
    default: {
      const std::size_t lengthBytes = std::size_t{1} << (sizeIndex - 5);
      if (available < 1 + lengthBytes) return false;
      std::size_t length = 0;
      for (std::size_t i = 0; i < lengthBytes; ++i) length = (length << 8) | data[1 + i];
      e.headerSize += lengthBytes;
      e.dataSize = length;
    }
  }
  switch (type) {
    case kNil:
      if (sizeIndex != 0) return false;
      break;
    case kUint:
    case kInt:
      if (sizeIndex > 4) return false;
      break;
    case kUuid:
      if (sizeIndex != 1 && sizeIndex != 2 && sizeIndex != 4) return false;
      break;
    case kBool:
      if (sizeIndex != 0) return false;
      break;
    case kText:
    case kSequence:
    case kAlternative:
    case kUrl:
      if (sizeIndex < 5) return false;
      break;
    default:
      return false;  // reserved types
  }
  return e.dataSize <= available - e.headerSize;
}

bool IsContainer(std::uint8_t type) {
  return type == kSequence || type == kAlternative;
}

}  // namespace

bool ReadSdpElement(const std::uint8_t* data, std::size_t size, SdpElement& element) {
  Element e;
  if (data == nullptr || !ReadHeader(data, size, e)) return false;
  element = {e.type, data + e.headerSize, e.dataSize, e.Total()};
  return true;
}

bool IsSdpElement(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return false;
  // Walked without recursion: the ends of the open containers.
  std::vector<std::size_t> ends{size};
  std::size_t at = 0;
  bool first = true;
  while (true) {
    while (!ends.empty() && at == ends.back()) ends.pop_back();
    if (ends.empty()) return !first;
    if (!first && ends.size() == 1) return false;  // a second top-level element
    Element e;
    if (!ReadHeader(data + at, ends.back() - at, e)) return false;
    first = false;
    if (IsContainer(e.type)) {
      at += e.headerSize;
      ends.push_back(at + e.dataSize);
    } else {
      at += e.Total();
    }
  }
}

bool WalkSdpAttributes(const std::uint8_t* data, std::size_t size,
                       const SdpAttributeVisitor& visit) {
  if (data == nullptr) return false;
  Element record;
  if (!ReadHeader(data, size, record) || record.type != kSequence || record.Total() != size) {
    return false;
  }
  struct Attribute {
    std::uint16_t id;
    std::size_t at;
    std::size_t size;
  };
  std::vector<Attribute> attributes;
  std::size_t at = record.headerSize;
  while (at < size) {
    Element id;
    if (!ReadHeader(data + at, size - at, id) || id.type != kUint || id.dataSize != 2) {
      return false;
    }
    const auto value = static_cast<std::uint16_t>((data[at + 1] << 8) | data[at + 2]);
    at += id.Total();
    Element v;
    if (!ReadHeader(data + at, size - at, v) || !IsSdpElement(data + at, v.Total())) return false;
    attributes.push_back({value, at, v.Total()});
    at += v.Total();
  }
  for (const Attribute& a : attributes) {
    if (!visit(a.id, data + a.at, a.size)) break;
  }
  return true;
}

}  // namespace quorlink::platform::posix
