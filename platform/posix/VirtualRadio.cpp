#include "platform/posix/VirtualRadio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/posix/VirtualRadioFiles.h"

namespace quorlink::platform::posix::vradio {

namespace {

struct State {
  std::mutex mutex;
  std::string directory;  // as set; empty = default
  files::Dir checked;     // created, checked and held open
  std::vector<RadioInfo> radios;
  std::uint64_t defaultRadio = 0;
  std::map<std::pair<std::uint64_t, std::uint64_t>, int> links;
};

State& S() {
  static State* state = new State;  // used by sockets until the process ends
  return *state;
}

std::atomic<bool> enabled{false};

std::string DefaultDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/quorlink-vradio";
  return "/tmp/quorlink-" + std::to_string(getuid());
}

[[noreturn]] void NotPrivate(const std::string& path) {
  throw std::system_error(EACCES, std::generic_category(),
                          path + " is not a private directory of this user");
}

// The rendezvous directory must be ours alone: anyone else could publish
// records or listen on our radios' channels. It is held open from here on.
files::Dir OpenPrivateDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::system_error(errno, std::generic_category(), "cannot create " + path);
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) NotPrivate(path);
    throw std::system_error(errno, std::generic_category(), "cannot inspect " + path);
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    int err = errno;
    close(fd);
    throw std::system_error(err, std::generic_category(), "cannot inspect " + path);
  }
  auto dir = std::make_shared<const files::Rendezvous>(fd, path, st.st_dev, st.st_ino);
  if (!dir->StillPrivate()) NotPrivate(path);
  return dir;
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
files::Dir files::CheckedDirectory() {
  std::lock_guard lock(S().mutex);
  if (!S().checked) {
    S().checked = OpenPrivateDirectory(S().directory.empty() ? DefaultDirectory() : S().directory);
  } else if (!S().checked->StillPrivate()) {
    NotPrivate(S().checked->Path());
  }
  return S().checked;
}

std::string RendezvousDirectory() {
  return files::CheckedDirectory()->Path();
}

Radio::Radio(std::uint64_t address, std::string name)
    : address_(address & 0xFFFFFFFFFFFFull), name_(std::move(name)) {
  if (address_ == 0) throw std::system_error(EINVAL, std::generic_category(), "radio address 0");
  dir_ = files::CheckedDirectory();
  lockFd_ = files::LockFile(*dir_, "r-" + files::Hex48(address_));
  if (lockFd_ < 0) {
    int err = errno == EWOULDBLOCK ? EADDRINUSE : errno;
    throw std::system_error(err, std::generic_category(),
                            "radio " + files::Hex48(address_) + " is in use");
  }
  files::WriteSmallFile(lockFd_, name_);
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
  files::ReleaseLockFile(*dir_, "r-" + files::Hex48(address_), lockFd_);
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
  const files::Dir dir = files::Directory();
  if (!dir) return result;
  for (const std::string& name : files::Names(*dir, "r-")) {
    RadioInfo info;
    if (!files::ParseHex48(name.substr(2), info.address) || !files::IsLocked(*dir, name)) continue;
    auto text = files::ReadSmallFile(*dir, name);
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
  const files::Dir dir = files::Directory();
  const std::string name = "r-" + files::Hex48(address);
  if (!dir || !files::IsLocked(*dir, name)) return std::nullopt;
  return files::ReadSmallFile(*dir, name);
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

}  // namespace quorlink::platform::posix::vradio
