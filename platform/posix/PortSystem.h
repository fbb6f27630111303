// The system calls the Linux port listing and watcher make, behind a slot so
// that tests can fail them, feed the watcher through a socket pair, and read
// a made-up sysfs and /dev under a folder of their own.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <string>

#include "quorlink/platform/ApiSlot.h"

namespace quorlink::platform::posix {

class IPortSystem {
 public:
  virtual ~IPortSystem() = default;

  // Prefixed to /sys/... and /dev/... for every file the listing reads; the
  // paths it reports leave it out. Empty for the real system.
  virtual std::string Root() = 0;

  virtual int socket(int domain, int type, int protocol) = 0;
  virtual int bind(int fd, const sockaddr* address, socklen_t size) = 0;
  virtual ssize_t recvmsg(int fd, msghdr* message, int flags) = 0;
  virtual int close(int fd) = 0;
  // Whether the device node may be opened for reading and writing, without
  // opening it.
  virtual int faccessat(int dirFd, const char* path, int mode, int flags) = 0;
};

IPortSystem& PortSystem();
IPortSystem& OsPortSystem();
IPortSystem* SetPortSystem(IPortSystem* api);
using ScopedPortSystem = ScopedApi<IPortSystem, SetPortSystem>;

}  // namespace quorlink::platform::posix
