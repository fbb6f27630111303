#include "platform/posix/VirtualRadioFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#include "platform/posix/VirtualRadio.h"

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

std::string Directory() {
  try {
    return RendezvousDirectory();
  } catch (const std::exception&) {
    return {};
  }
}

std::string PathOf(const std::string& name) {
  const std::string dir = Directory();
  return dir.empty() ? std::string() : dir + "/" + name;
}

int LockFile(const std::string& path) {
  if (path.empty()) {
    errno = ENETDOWN;
    return -1;
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      close(fd);
      errno = err;
      return -1;
    }
    // A holder may have removed the file between our open and our lock.
    struct stat opened {
    }, named{};
    if (fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev)
      return fd;
    close(fd);
  }
  errno = EAGAIN;
  return -1;
}

bool IsLocked(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  // flock conflicts between open descriptions, even within one process.
  bool locked = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return locked;
}

std::string ReadSmallFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
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

}  // namespace quorlink::platform::posix::vradio::files
