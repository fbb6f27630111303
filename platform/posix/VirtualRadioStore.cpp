#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/posix/VirtualRadioRendezvous.h"

namespace quorlink::platform::vradio::store {

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

std::string DefaultDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/quorlink-vradio";
  return "/tmp/quorlink-" + std::to_string(getuid());
}

namespace {

[[noreturn]] void NotPrivate(const std::string& path) {
  throw std::system_error(EACCES, std::generic_category(),
                          path + " is not a private directory of this user");
}

}  // namespace

// The rendezvous directory must be ours alone: anyone else could publish
// records or listen on our radios' channels. It is held open from here on.
Dir OpenPrivateDirectory(const std::string& path) {
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
  auto dir = std::make_shared<const Rendezvous>(fd, path, st.st_dev, st.st_ino);
  if (!dir->StillPrivate()) NotPrivate(path);
  return dir;
}

bool StillPrivate(const Rendezvous& dir) {
  return dir.StillPrivate();
}

const std::string& PathOf(const Rendezvous& dir) {
  return dir.Path();
}

int TakeLock(const Dir& dir, const std::string& name, Lock& lock) {
  lock.Release();
  for (int attempt = 0; attempt < 8; ++attempt) {
    struct stat opened {};
    int fd = OpenRegular(*dir, name, O_RDWR | O_CREAT, opened);
    if (fd < 0) return errno;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      close(fd);
      return err;
    }
    // A holder may have removed the file between our open and our lock.
    if (StillNamed(*dir, name, opened)) {
      lock.dir_ = dir;
      lock.name_ = name;
      lock.native_ = fd;
      return 0;
    }
    close(fd);
  }
  return EWOULDBLOCK;
}

void Lock::Release() {
  if (native_ == -1) return;
  // Removed while locked: a taker that opened it meanwhile finds the name
  // gone or new once it has the lock, and starts again.
  unlinkat(dir_->Fd(), name_.c_str(), 0);
  close(static_cast<int>(native_));
  native_ = -1;
  dir_.reset();
}

bool Lock::Write(const std::string& text) {
  if (native_ == -1) return false;
  const int fd = static_cast<int>(native_);
  if (ftruncate(fd, 0) != 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int WriteFileAtomically(const Rendezvous& dir, const std::string& name, const std::string& text) {
  const std::string temporary = name + ".tmp" + std::to_string(getpid());
  int fd = openat(dir.Fd(), temporary.c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return errno;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  close(fd);
  if (!ok || renameat(dir.Fd(), temporary.c_str(), dir.Fd(), name.c_str()) != 0) {
    int err = ok ? errno : EIO;
    unlinkat(dir.Fd(), temporary.c_str(), 0);
    return err;
  }
  return 0;
}

int RemoveName(const Rendezvous& dir, const std::string& name) {
  return unlinkat(dir.Fd(), name.c_str(), 0) == 0 ? 0 : errno;
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

}  // namespace quorlink::platform::vradio::store
