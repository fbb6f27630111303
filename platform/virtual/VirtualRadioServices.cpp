// The service-record registry of the virtual radio: one file per record,
// named after radio, channel and service class; a record counts only while
// its channel is held, so records of ended processes fall away by themselves.
#include <cerrno>
#include <cstdio>

#include "platform/virtual/VirtualRadio.h"
#include "platform/virtual/VirtualRadioStore.h"

namespace quorlink::platform::vradio {

namespace {

std::string GuidHex(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08x%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// Exactly 32 hex digits: no sign, prefix or spaces.
bool ParseGuidHex(const std::string& text, GUID& g) {
  if (text.size() != 32) return false;
  std::uint8_t bytes[16];
  for (std::size_t i = 0; i < 32; ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    bytes[i / 2] = static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : bytes[i / 2] | digit);
  }
  g.Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 |
            static_cast<std::uint32_t>(bytes[1]) << 16 | static_cast<std::uint32_t>(bytes[2]) << 8 |
            bytes[3];
  g.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return true;
}

std::string RecordName(std::uint64_t address, std::uint32_t channel, const GUID& g) {
  return "v-" + store::Hex48(address) + "-" + std::to_string(channel) + "-" + GuidHex(g);
}

bool ChannelHeld(const store::Rendezvous& dir, std::uint64_t address, std::uint32_t channel) {
  return store::IsLocked(dir, "k-" + store::Hex48(address) + "-" + std::to_string(channel));
}

// Parses "v-<radio>-<channel>-<class>" as RecordName writes it; anything
// else (a temporary, a stranger's file) is not a record.
bool ParseRecordName(const std::string& name, ServiceRecord& r) {
  if (name.size() < 2 + 12 + 1 + 1 + 1 + 32 || name.rfind("v-", 0) != 0) return false;
  if (!store::ParseHex48(name.substr(2, 12), r.address) || name[14] != '-') return false;
  std::size_t dash = name.find('-', 15);
  if (dash == std::string::npos || !store::ParseDecimal(name.substr(15, dash - 15), 2, r.channel))
    return false;
  if (r.channel < kFirstChannel || r.channel > kLastChannel) return false;
  return ParseGuidHex(name.substr(dash + 1), r.serviceClass);
}

std::vector<ServiceRecord> LiveRecords(std::uint64_t address) {
  std::vector<ServiceRecord> result;
  const store::Dir dir = store::Directory();
  if (!dir) return result;
  for (const std::string& name : store::Names(*dir, "v-" + store::Hex48(address) + "-")) {
    ServiceRecord r;
    if (!ParseRecordName(name, r) || !ChannelHeld(*dir, r.address, r.channel)) continue;
    auto text = store::ReadSmallFile(*dir, name);
    if (!text) continue;
    std::size_t zero = text->find('\0');
    r.name = text->substr(0, zero);
    if (zero != std::string::npos) r.comment = text->substr(zero + 1);
    result.push_back(std::move(r));
  }
  return result;
}

}  // namespace

int PublishService(const ServiceRecord& record) {
  const store::Dir dir = store::Directory();
  if (!dir) return ENETDOWN;
  std::string text = record.name;
  text.push_back('\0');
  text += record.comment;
  return store::WriteFileAtomically(
      *dir, RecordName(record.address, record.channel, record.serviceClass), text);
}

int DeleteService(std::uint64_t address, std::uint32_t channel, const GUID& serviceClass) {
  const store::Dir dir = store::Directory();
  if (!dir) return ENETDOWN;
  return store::RemoveName(*dir, RecordName(address, channel, serviceClass));
}

std::optional<std::uint32_t> FindService(std::uint64_t address, const GUID& serviceClass) {
  std::optional<std::uint32_t> best;
  for (const auto& r : LiveRecords(address))
    if (r.serviceClass == serviceClass && (!best || r.channel < *best)) best = r.channel;
  return best;
}

std::vector<ServiceRecord> Services(std::uint64_t address) {
  return LiveRecords(address);
}

}  // namespace quorlink::platform::vradio
