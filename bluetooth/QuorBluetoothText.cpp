#include "quorlink/bluetooth/QuorBluetoothText.h"

#include <cstring>

#include "quorlink/core/SysUtils.h"
#include "platform/Winsock.h"

namespace quorlink {

std::string NarrowName(const WCHAR* text, std::size_t max) {
  std::string out;
  for (std::size_t i = 0; i < max && text[i] != 0; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < max && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string SocketAddressText(SOCKET socket, const SOCKADDR_BTH& addr) {
  auto& winsock = platform::Winsock();
  WSAPROTOCOL_INFOA info{};
  int infoLength = sizeof info;
  if (winsock.getsockopt(socket, win32::kSolSocket, SO_PROTOCOL_INFOA,
                         reinterpret_cast<char*>(&info), &infoLength) != 0)
    RaiseLastOSError();
  SOCKADDR_BTH copy = addr;  // the conversion takes a writable record
  char text[256] = {};
  DWORD textLength = sizeof text;
  if (winsock.WSAAddressToStringA(reinterpret_cast<SOCKADDR*>(&copy), sizeof copy, &info, text,
                                  &textLength) != 0)
    RaiseLastOSError();
  return std::string(text, strnlen(text, sizeof text));
}

}  // namespace quorlink
