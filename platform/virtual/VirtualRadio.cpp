#include "platform/virtual/VirtualRadio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>

namespace quorlink::platform::vradio {

namespace {

struct State {
  std::mutex mutex;
  std::string directory;  // as set; empty = default
  store::Dir checked;     // created, checked and held open
  std::vector<RadioInfo> radios;
  std::uint64_t defaultRadio = 0;
  std::map<std::pair<std::uint64_t, std::uint64_t>, int> links;
};

State& S() {
  static State* state = new State;  // used by sockets until the process ends
  return *state;
}

std::atomic<bool> enabled{false};

[[noreturn]] void NotPrivate(const std::string& path) {
  throw std::system_error(EACCES, std::generic_category(),
                          path + " is not a private directory of this user");
}

}  // namespace

void Enable(bool on) {
  enabled.store(on);
}
bool Enabled() {
  return enabled.load();
}

void SetRendezvousDirectory(const std::string& path) {
  std::lock_guard lock(S().mutex);
  S().directory = path;
  S().checked.reset();
}

// Checked again on each use: removed, replaced or opened to others while the
// program runs, the directory is refused rather than followed by name.
store::Dir store::CheckedDirectory() {
  std::lock_guard lock(S().mutex);
  if (!S().checked) {
    S().checked = OpenPrivateDirectory(S().directory.empty() ? DefaultDirectory() : S().directory);
  } else if (!StillPrivate(*S().checked)) {
    NotPrivate(PathOf(*S().checked));
  }
  return S().checked;
}

store::Dir store::Directory() {
  try {
    return CheckedDirectory();
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::string RendezvousDirectory() {
  return store::PathOf(*store::CheckedDirectory());
}

Radio::Radio(std::uint64_t address, std::string name)
    : address_(address & 0xFFFFFFFFFFFFull), name_(std::move(name)) {
  if (address_ == 0) throw std::system_error(EINVAL, std::generic_category(), "radio address 0");
  if (int err = store::TakeLock(store::CheckedDirectory(), "r-" + store::Hex48(address_), lock_)) {
    throw std::system_error(err == EWOULDBLOCK ? EADDRINUSE : err, std::generic_category(),
                            "radio " + store::Hex48(address_) + " is in use");
  }
  lock_.Write(name_);
  std::lock_guard lock(S().mutex);
  S().radios.push_back({address_, name_});
}

Radio::~Radio() {
  {
    std::lock_guard lock(S().mutex);
    auto& radios = S().radios;
    radios.erase(std::remove_if(radios.begin(), radios.end(),
                                [&](const RadioInfo& r) { return r.address == address_; }),
                 radios.end());
  }
  // Removed before the lock goes, so no one sees a named radio without owner.
  lock_.Release();
}

std::vector<RadioInfo> LocalRadios() {
  std::lock_guard lock(S().mutex);
  return S().radios;
}

bool IsLocalRadio(std::uint64_t address) {
  std::lock_guard lock(S().mutex);
  for (const auto& r : S().radios)
    if (r.address == address) return true;
  return false;
}

std::vector<RadioInfo> KnownRadios() {
  std::vector<RadioInfo> result;
  const store::Dir dir = store::Directory();
  if (!dir) return result;
  for (const std::string& name : store::Names(*dir, "r-")) {
    RadioInfo info;
    if (!store::ParseHex48(name.substr(2), info.address) || !store::IsLocked(*dir, name)) continue;
    auto text = store::ReadSmallFile(*dir, name);
    if (!text) continue;
    info.name = std::move(*text);
    result.push_back(std::move(info));
  }
  std::sort(result.begin(), result.end(),
            [](const RadioInfo& a, const RadioInfo& b) { return a.address < b.address; });
  return result;
}

std::optional<std::string> RadioName(std::uint64_t address) {
  {
    std::lock_guard lock(S().mutex);
    for (const auto& r : S().radios)
      if (r.address == address) return r.name;
  }
  const store::Dir dir = store::Directory();
  const std::string name = "r-" + store::Hex48(address);
  if (!dir || !store::IsLocked(*dir, name)) return std::nullopt;
  return store::ReadSmallFile(*dir, name);
}

std::uint64_t DefaultRadio() {
  std::lock_guard lock(S().mutex);
  for (const auto& r : S().radios)
    if (r.address == S().defaultRadio) return r.address;
  return S().radios.empty() ? 0 : S().radios.front().address;
}

void SetDefaultRadio(std::uint64_t address) {
  std::lock_guard lock(S().mutex);
  S().defaultRadio = address;
}

ScopedDefaultRadio::ScopedDefaultRadio(std::uint64_t address) {
  std::lock_guard lock(S().mutex);
  previous_ = S().defaultRadio;
  S().defaultRadio = address;
}

ScopedDefaultRadio::~ScopedDefaultRadio() {
  SetDefaultRadio(previous_);
}

LinkRecord::LinkRecord(std::uint64_t localRadio, std::uint64_t peerRadio)
    : local_(localRadio), peer_(peerRadio) {
  std::lock_guard lock(S().mutex);
  ++S().links[{local_, peer_}];
}

LinkRecord::~LinkRecord() {
  std::lock_guard lock(S().mutex);
  auto it = S().links.find({local_, peer_});
  if (it != S().links.end() && --it->second == 0) S().links.erase(it);
}

std::vector<std::uint64_t> ConnectedDevices(std::uint64_t localRadio) {
  std::lock_guard lock(S().mutex);
  std::vector<std::uint64_t> result;
  for (const auto& [key, count] : S().links)
    if (key.first == localRadio && count > 0) result.push_back(key.second);
  return result;
}

}  // namespace quorlink::platform::vradio
