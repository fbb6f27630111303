// The service-record registry of the virtual radio: one file per record,
// named after radio, channel and service class; a record counts only while
// its channel is held, so records of ended processes fall away by themselves.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/posix/VirtualRadio.h"
#include "platform/posix/VirtualRadioFiles.h"

namespace quorlink::platform::posix::vradio {

namespace {

std::string GuidHex(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08x%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                g.Data4[6], g.Data4[7]);
  return text;
}

bool ParseGuidHex(const std::string& text, GUID& g) {
  if (text.size() != 32) return false;
  unsigned d[11];
  if (std::sscanf(text.c_str(), "%8x%4x%4x%2x%2x%2x%2x%2x%2x%2x%2x", &d[0], &d[1], &d[2], &d[3],
                  &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]) != 11)
    return false;
  g.Data1 = d[0];
  g.Data2 = static_cast<std::uint16_t>(d[1]);
  g.Data3 = static_cast<std::uint16_t>(d[2]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(d[3 + i]);
  return true;
}

std::string RecordName(std::uint64_t address, std::uint32_t channel, const GUID& g) {
  return "v-" + files::Hex48(address) + "-" + std::to_string(channel) + "-" + GuidHex(g);
}

bool ChannelHeld(std::uint64_t address, std::uint32_t channel) {
  return files::IsLocked(
      files::PathOf("k-" + files::Hex48(address) + "-" + std::to_string(channel)));
}

// Parses "v-<radio>-<channel>-<class>".
bool ParseRecordName(const std::string& name, ServiceRecord& r) {
  if (name.size() < 2 + 12 + 1 + 1 + 1 + 32 || name.rfind("v-", 0) != 0) return false;
  if (!files::ParseHex48(name.substr(2, 12), r.address) || name[14] != '-') return false;
  std::size_t dash = name.find('-', 15);
  if (dash == std::string::npos || dash == 15 || dash - 15 > 2) return false;
  r.channel = static_cast<std::uint32_t>(std::stoul(name.substr(15, dash - 15)));
  return ParseGuidHex(name.substr(dash + 1), r.serviceClass);
}

std::vector<ServiceRecord> LiveRecords(std::uint64_t address) {
  std::vector<ServiceRecord> result;
  const std::string dir = files::Directory();
  if (dir.empty()) return result;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return result;
  const std::string prefix = "v-" + files::Hex48(address) + "-";
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    ServiceRecord r;
    if (name.rfind(prefix, 0) != 0 || !ParseRecordName(name, r)) continue;
    if (!ChannelHeld(r.address, r.channel)) continue;
    std::string text = files::ReadSmallFile(dir + "/" + name);
    std::size_t zero = text.find('\0');
    r.name = text.substr(0, zero);
    if (zero != std::string::npos) r.comment = text.substr(zero + 1);
    result.push_back(std::move(r));
  }
  closedir(d);
  return result;
}

}  // namespace

int PublishService(const ServiceRecord& record) {
  const std::string path =
      files::PathOf(RecordName(record.address, record.channel, record.serviceClass));
  if (path.empty()) return ENETDOWN;
  // Written aside and renamed, so a reader never sees half a record.
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno;
  std::string text = record.name;
  text.push_back('\0');
  text += record.comment;
  bool ok = files::WriteSmallFile(fd, text);
  close(fd);
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    int err = ok ? errno : EIO;
    unlink(temporary.c_str());
    return err;
  }
  return 0;
}

int DeleteService(std::uint64_t address, std::uint32_t channel, const GUID& serviceClass) {
  if (unlink(files::PathOf(RecordName(address, channel, serviceClass)).c_str()) != 0) return errno;
  return 0;
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

}  // namespace quorlink::platform::posix::vradio
