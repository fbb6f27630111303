#include "tools/ShownText.h"

#include <cstdio>

namespace quorlink::tools {

namespace {

// The length of the whole UTF-8 character at data, or 0 when there is none.
std::size_t Utf8Length(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t b = data[0];
  std::size_t n;
  std::uint32_t cp;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (size < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((data[i] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (data[i] & 0x3F);
  }
  const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return n;
}

}  // namespace

std::string ShownBytes(const std::uint8_t* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size;) {
    const std::uint8_t b = data[i];
    const std::size_t n = Utf8Length(data + i, size - i);
    if (b == '\\') {
      out += "\\\\";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == '\t') {
      out += "\\t";
    } else if (n == 0 || b < 0x20 || b == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
      out += escape;
    } else {
      out.append(reinterpret_cast<const char*>(data + i), n);
      i += n;
      continue;
    }
    ++i;
  }
  return out;
}

bool IsUtf8(const std::string& text) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Length(data + i, text.size() - i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace quorlink::tools
