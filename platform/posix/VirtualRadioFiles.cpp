#include "platform/posix/VirtualRadioFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

namespace quorlink::platform::posix::vradio::files {

std::string Hex48(std::uint64_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%012llx",
                static_cast<unsigned long long>(address & 0xFFFFFFFFFFFFull));
  return text;
}

bool ParseHex48(const std::string& text, std::uint64_t& address) {
  if (text.size() != 12) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    value = (value << 4) | static_cast<std::uint64_t>(digit);
  }
  address = value;
  return true;
}

bool ParseDecimal(const std::string& text, std::size_t digits, std::uint32_t& value) {
  if (text.empty() || text.size() > digits || digits > 9) return false;
  std::uint32_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<std::uint32_t>(c - '0');
  }
  value = result;
  return true;
}

namespace {

bool SameFile(const struct stat& st, dev_t device, ino_t inode) {
  return st.st_dev == device && st.st_ino == inode;
}

// Opens an entry without following a link and without waiting on a FIFO or
// device; -1 (errno EWOULDBLOCK) when it is there but not a regular file.
int OpenRegular(const Rendezvous& dir, const std::string& name, int flags, struct stat& st) {
  int fd = openat(dir.Fd(), name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    // A link, directory or socket under the name.
    if (errno == ELOOP || errno == EISDIR || errno == ENXIO) errno = EWOULDBLOCK;
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EWOULDBLOCK;
    return -1;
  }
  return fd;
}

// True while the name still leads to the file opened as `st`.
bool StillNamed(const Rendezvous& dir, const std::string& name, const struct stat& st) {
  struct stat named {};
  return fstatat(dir.Fd(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         SameFile(named, st.st_dev, st.st_ino);
}

}  // namespace

Rendezvous::Rendezvous(int fd, std::string path, dev_t device, ino_t inode)
    : fd_(fd), path_(std::move(path)), device_(device), inode_(inode) {
  // Socket addresses need a path: through the held descriptor where /proc
  // offers one, so the address cannot lead anywhere else; else by name, and
  // then only after StillPrivate.
  const std::string viaProc = "/proc/self/fd/" + std::to_string(fd_);
  struct stat st {};
  socketBase_ = stat(viaProc.c_str(), &st) == 0 && SameFile(st, device_, inode_) ? viaProc : path_;
}

Rendezvous::~Rendezvous() {
  close(fd_);
}

bool Rendezvous::StillPrivate() const {
  struct stat held {
  }, named{};
  if (fstat(fd_, &held) != 0 || !S_ISDIR(held.st_mode) || held.st_uid != getuid() ||
      (held.st_mode & 077) != 0)
    return false;
  return lstat(path_.c_str(), &named) == 0 && SameFile(named, device_, inode_);
}

std::string Rendezvous::SocketPath(const std::string& name) const {
  std::string path = socketBase_ + "/" + name;
  return path.size() < sizeof(sockaddr_un{}.sun_path) ? path : std::string();
}

Dir Directory() {
  try {
    return CheckedDirectory();
  } catch (const std::exception&) {
    return nullptr;
  }
}

int LockFile(const Rendezvous& dir, const std::string& name) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    struct stat opened {};
    int fd = OpenRegular(dir, name, O_RDWR | O_CREAT, opened);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      close(fd);
      errno = err;
      return -1;
    }
    // A holder may have removed the file between our open and our lock.
    if (StillNamed(dir, name, opened)) return fd;
    close(fd);
  }
  errno = EWOULDBLOCK;
  return -1;
}

void ReleaseLockFile(const Rendezvous& dir, const std::string& name, int fd) {
  // Removed while locked: a taker that opened it meanwhile finds the name
  // gone or new once it has the lock, and starts again.
  unlinkat(dir.Fd(), name.c_str(), 0);
  close(fd);
}

bool IsLocked(const Rendezvous& dir, const std::string& name) {
  struct stat st {};
  int fd = OpenRegular(dir, name, O_RDONLY, st);
  if (fd < 0) return false;
  // flock conflicts between open descriptions, even within one process.
  bool locked = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return locked;
}

std::optional<std::string> ReadSmallFile(const Rendezvous& dir, const std::string& name) {
  struct stat st {};
  int fd = OpenRegular(dir, name, O_RDONLY, st);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buf[512];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0 || text.size() > 4096) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return text;
}

bool WriteSmallFile(int fd, const std::string& text) {
  if (ftruncate(fd, 0) != 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::vector<std::string> Names(const Rendezvous& dir, const std::string& prefix) {
  std::vector<std::string> names;
  int fd = openat(dir.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    close(fd);
    return names;
  }
  while (dirent* e = readdir(d)) {
    if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
    std::string name = e->d_name;
    if (name.rfind(prefix, 0) == 0) names.push_back(std::move(name));
  }
  closedir(d);
  return names;
}

}  // namespace quorlink::platform::posix::vradio::files
