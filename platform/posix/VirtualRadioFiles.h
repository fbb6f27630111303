// Names and locks in the rendezvous directory, shared by the parts of the
// virtual radio. A file is "live" while some process holds its lock.
//
// The directory is held open once checked, and every name is reached through
// that descriptor, so a directory removed and recreated by someone else under
// the same name is never used. Entries that are not regular files are treated
// as absent (or, for a lock, as taken) and never block.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorlink::platform::posix::vradio::files {

// Twelve lower-case hex digits.
std::string Hex48(std::uint64_t address);
bool ParseHex48(const std::string& text, std::uint64_t& address);

// The checked rendezvous directory, open for as long as anyone uses it.
class Rendezvous {
 public:
  // Takes the descriptor of a directory already checked to be private.
  Rendezvous(int fd, std::string path, dev_t device, ino_t inode);
  ~Rendezvous();
  Rendezvous(const Rendezvous&) = delete;
  Rendezvous& operator=(const Rendezvous&) = delete;

  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  // True while the directory is still private to this user and still the
  // one its path names.
  bool StillPrivate() const;
  // The address of a Unix socket named `name` in this directory; empty when
  // it does not fit a socket address.
  std::string SocketPath(const std::string& name) const;

 private:
  int fd_;
  std::string path_;
  dev_t device_;
  ino_t inode_;
  std::string socketBase_;
};
using Dir = std::shared_ptr<const Rendezvous>;

// The rendezvous directory, created and checked on first use and checked
// again on each. Throws std::system_error when it cannot be used.
Dir CheckedDirectory();
// The same, or null when it cannot be used; the calls of the Winsock and
// Bluetooth backends never raise.
Dir Directory();

// Opens (creating) and locks a file exclusively without waiting; -1 with
// errno EWOULDBLOCK when another holder has it or something other than a
// regular file has the name.
int LockFile(const Rendezvous& dir, const std::string& name);
// Removes a name while its lock is held, then releases the lock.
void ReleaseLockFile(const Rendezvous& dir, const std::string& name, int fd);
// True while another open description holds the regular file's lock.
bool IsLocked(const Rendezvous& dir, const std::string& name);
// Reads a small regular file whole; nullopt when there is none.
std::optional<std::string> ReadSmallFile(const Rendezvous& dir, const std::string& name);
bool WriteSmallFile(int fd, const std::string& text);
// The names in the directory that start with the prefix.
std::vector<std::string> Names(const Rendezvous& dir, const std::string& prefix);
// A decimal number of at most `digits` digits and nothing else.
bool ParseDecimal(const std::string& text, std::size_t digits, std::uint32_t& value);

}  // namespace quorlink::platform::posix::vradio::files
