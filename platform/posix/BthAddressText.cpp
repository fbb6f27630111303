#include "platform/posix/BthAddressText.h"

#include <cstring>

namespace quorlink::platform::posix {

namespace {

constexpr BTH_ADDR kAddressMask = 0xFFFFFFFFFFFFULL;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "XX:XX:XX:XX:XX:XX" exactly, 17 characters.
bool ParseBytes(std::string_view text, BTH_ADDR& address) {
  if (text.size() != 17) return false;
  BTH_ADDR value = 0;
  for (std::size_t i = 0; i < 6; ++i) {
    const std::size_t at = i * 3;
    if (i > 0 && text[at - 1] != ':') return false;
    const int high = HexValue(text[at]);
    const int low = HexValue(text[at + 1]);
    if (high < 0 || low < 0) return false;
    value = (value << 8) | static_cast<BTH_ADDR>(high * 16 + low);
  }
  address = value;
  return true;
}

bool ParseChannel(std::string_view text, ULONG& port) {
  if (text.empty() || text.size() > 10 || text[0] == '0') return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFULL) return false;
  port = static_cast<ULONG>(value);
  return true;
}

}  // namespace

bool ParseBthAddressText(std::string_view text, BTH_ADDR& address, ULONG& port) {
  std::string_view rest = text;
  std::string_view bytes;
  if (!rest.empty() && rest.front() == '(') {
    if (rest.size() < 19 || rest[18] != ')') return false;
    bytes = rest.substr(1, 17);
    rest.remove_prefix(19);
  } else {
    if (rest.size() < 17) return false;
    bytes = rest.substr(0, 17);
    rest.remove_prefix(17);
  }
  BTH_ADDR value = 0;
  if (!ParseBytes(bytes, value)) return false;
  ULONG channel = 0;
  if (!rest.empty()) {
    if (rest.front() != ':' || !ParseChannel(rest.substr(1), channel)) return false;
  }
  address = value;
  port = channel;
  return true;
}

std::string FormatBthAddressText(BTH_ADDR address, ULONG port) {
  if ((address & ~kAddressMask) != 0) return {};
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "(";
  for (int shift = 40; shift >= 0; shift -= 8) {
    const auto byte = static_cast<unsigned>((address >> shift) & 0xFF);
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
    text += shift > 0 ? ':' : ')';
  }
  if (port != 0) text += ":" + std::to_string(port);
  return text;
}

int BthStringToAddress(const char* text, INT family, SOCKADDR* address, INT* addressLength) {
  if (text == nullptr || addressLength == nullptr) return WSAEFAULT;
  if (family != AF_BTH) return WSAEINVAL;
  if (address == nullptr || *addressLength < static_cast<INT>(sizeof(SOCKADDR_BTH))) {
    *addressLength = sizeof(SOCKADDR_BTH);
    return WSAEFAULT;
  }
  // The record is packed: parse into aligned locals, never into its fields.
  BTH_ADDR parsed = 0;
  ULONG port = 0;
  if (!ParseBthAddressText(text, parsed, port)) return WSAEINVAL;
  SOCKADDR_BTH record{};
  record.addressFamily = AF_BTH;
  record.btAddr = parsed;
  record.port = port;
  std::memcpy(address, &record, sizeof record);
  *addressLength = sizeof(SOCKADDR_BTH);
  return 0;
}

int BthAddressToString(const SOCKADDR* address, DWORD addressLength, char* text,
                       DWORD* textLength) {
  if (address == nullptr || textLength == nullptr || addressLength < sizeof(SOCKADDR_BTH)) {
    return WSAEFAULT;
  }
  SOCKADDR_BTH record;
  std::memcpy(&record, address, sizeof record);
  if (record.addressFamily != AF_BTH) return WSAEINVAL;
  const std::string formatted = FormatBthAddressText(record.btAddr, record.port);
  if (formatted.empty()) return WSAEINVAL;
  const auto needed = static_cast<DWORD>(formatted.size() + 1);
  if (text == nullptr || *textLength < needed) {
    *textLength = needed;
    return WSAEFAULT;
  }
  std::memcpy(text, formatted.c_str(), needed);
  *textLength = needed;
  return 0;
}

}  // namespace quorlink::platform::posix
