// The store under the virtual radio's registry: a private per-user
// rendezvous directory of small files, where a file is "live" while some
// process holds its lock. Each OS implements it (POSIX: a held directory
// descriptor, *at calls and flock; Windows: a directory under the user's
// local application data with LockFileEx); the registry above it is the same
// on both. A lock is released by the system when its process ends, so
// entries of a process that died fall away by themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorlink::platform::vradio::store {

// The checked directory, open for as long as anyone uses it (per OS).
class Rendezvous;
using Dir = std::shared_ptr<const Rendezvous>;

// The directory used when none is set.
std::string DefaultDirectory();
// Creates the directory (closed to other users) if needed and checks it is
// a private directory of this user. Throws std::system_error.
Dir OpenPrivateDirectory(const std::string& path);
// True while the directory is still private and still the one its path names.
bool StillPrivate(const Rendezvous& dir);
const std::string& PathOf(const Rendezvous& dir);

// The rendezvous directory, created and checked on first use and checked
// again on each (defined by the registry). Throws std::system_error.
Dir CheckedDirectory();
// The same, or null when it cannot be used; the calls of the Winsock and
// Bluetooth backends never raise.
Dir Directory();

// An exclusively locked file of the directory, from TakeLock to Release.
class Lock {
 public:
  Lock() = default;
  ~Lock() { Release(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  Lock(Lock&& other) noexcept;
  Lock& operator=(Lock&& other) noexcept;

  bool Held() const { return native_ != -1; }
  const std::string& Name() const { return name_; }
  // Replaces the file's content; the lock stays.
  bool Write(const std::string& text);
  // Removes the name where the system allows it while locked, then
  // releases the lock. Nothing when not held.
  void Release();

 private:
  friend int TakeLock(const Dir& dir, const std::string& name, Lock& lock);
  Dir dir_;
  std::string name_;
  std::intptr_t native_ = -1;  // descriptor or handle
};

// Opens (creating) and locks a file without waiting: 0, EWOULDBLOCK when
// another holder has it (or something other than a regular file has the
// name), or another errno value.
int TakeLock(const Dir& dir, const std::string& name, Lock& lock);
// True while another holder has the regular file's lock (even one of this
// process).
bool IsLocked(const Rendezvous& dir, const std::string& name);
// Reads a small regular file whole; nullopt when there is none.
std::optional<std::string> ReadSmallFile(const Rendezvous& dir, const std::string& name);
// Writes a file aside and renames it into place, so a reader never sees
// half of it. 0 or an errno value.
int WriteFileAtomically(const Rendezvous& dir, const std::string& name, const std::string& text);
// 0, ENOENT when there is no such name, or another errno value.
int RemoveName(const Rendezvous& dir, const std::string& name);
// The regular files in the directory whose names start with the prefix.
std::vector<std::string> Names(const Rendezvous& dir, const std::string& prefix);

// Twelve lower-case hex digits.
std::string Hex48(std::uint64_t address);
bool ParseHex48(const std::string& text, std::uint64_t& address);
// A decimal number of at most `digits` digits and nothing else.
bool ParseDecimal(const std::string& text, std::size_t digits, std::uint32_t& value);

}  // namespace quorlink::platform::vradio::store
