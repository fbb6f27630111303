// SDP data elements as the Bluetooth core standard lays them out: a
// header byte (type in the high five bits, size index in the low three), an
// optional big-endian length, then the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quorlink::platform::posix {

// One attribute of a record: its id and its whole value element.
using SdpAttributeVisitor =
    std::function<bool(std::uint16_t id, const std::uint8_t* value, std::size_t size)>;

// One element: its type (the header's high five bits) and where its data lies.
struct SdpElement {
  std::uint8_t type = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;   // of the data
  std::size_t total = 0;  // header, length field and data
};
// The element that starts at data, within size bytes; false when its header
// is malformed or it does not fit (its contents are not checked).
bool ReadSdpElement(const std::uint8_t* data, std::size_t size, SdpElement& element);

// True when data is exactly one well-formed element, containers included.
bool IsSdpElement(const std::uint8_t* data, std::size_t size);

// A record is one sequence of uint16 attribute ids each followed by a value
// element. Checks the whole record first, then visits the attributes until
// the visitor returns false. False, with no visit, for a malformed record.
bool WalkSdpAttributes(const std::uint8_t* data, std::size_t size,
                       const SdpAttributeVisitor& visit);

}  // namespace quorlink::platform::posix
