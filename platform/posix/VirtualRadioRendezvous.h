// The POSIX rendezvous directory of the virtual radio's store.
//
// The directory is held open once checked, and every name is reached through
// that descriptor, so a directory removed and recreated by someone else under
// the same name is never used. Entries that are not regular files are treated
// as absent (or, for a lock, as taken) and never block.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/virtual/VirtualRadioStore.h"

namespace quorlink::platform::vradio::store {

class Rendezvous {
 public:
  // Takes the descriptor of a directory already checked to be private.
  Rendezvous(int fd, std::string path, dev_t device, ino_t inode);
  ~Rendezvous();
  Rendezvous(const Rendezvous&) = delete;
  Rendezvous& operator=(const Rendezvous&) = delete;

  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
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

}  // namespace quorlink::platform::vradio::store
