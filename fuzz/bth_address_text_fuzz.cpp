// Address text parsing: any text either fails with WSAEINVAL or yields a
// record whose text parses back to the same record.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/BthAddressText.h"

using namespace quorlink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SOCKADDR_BTH record;
  INT length = sizeof record;
  const int error = platform::posix::BthStringToAddress(
      text.c_str(), AF_BTH, reinterpret_cast<SOCKADDR*>(&record), &length);
  if (error != 0) {
    if (error != WSAEINVAL) std::abort();
    return 0;
  }
  if (length != 30 || record.addressFamily != AF_BTH || record.btAddr >> 48 != 0) std::abort();

  char buffer[64];
  DWORD textLength = sizeof buffer;
  if (platform::posix::BthAddressToString(reinterpret_cast<SOCKADDR*>(&record), 30, buffer,
                                          &textLength) != 0 ||
      textLength != std::strlen(buffer) + 1) {
    std::abort();
  }
  SOCKADDR_BTH back;
  length = sizeof back;
  if (platform::posix::BthStringToAddress(buffer, AF_BTH, reinterpret_cast<SOCKADDR*>(&back),
                                          &length) != 0 ||
      std::memcmp(&back, &record, sizeof record) != 0) {
    std::abort();
  }
  return 0;
}
