// The parts of the store that are the same on every OS: names and moves.
#include "platform/virtual/VirtualRadioStore.h"

#include <cstdio>
#include <utility>

namespace quorlink::platform::vradio::store {

Lock::Lock(Lock&& other) noexcept
    : dir_(std::move(other.dir_)),
      name_(std::move(other.name_)),
      native_(std::exchange(other.native_, -1)) {}

Lock& Lock::operator=(Lock&& other) noexcept {
  if (this != &other) {
    Release();
    dir_ = std::move(other.dir_);
    name_ = std::move(other.name_);
    native_ = std::exchange(other.native_, -1);
  }
  return *this;
}

std::string Hex48(std::uint64_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%012llx",
                static_cast<unsigned long long>(address & 0xFFFFFFFFFFFFull));
  return text;
}

bool ParseHex48(const std::string& text, std::uint64_t& address) {
  if (text.size() != 12) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    value = (value << 4) | static_cast<std::uint64_t>(digit);
  }
  address = value;
  return true;
}

bool ParseDecimal(const std::string& text, std::size_t digits, std::uint32_t& value) {
  if (text.empty() || text.size() > digits || digits > 9) return false;
  std::uint32_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<std::uint32_t>(c - '0');
  }
  value = result;
  return true;
}

}  // namespace quorlink::platform::vradio::store
