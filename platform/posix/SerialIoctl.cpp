#include "platform/posix/SerialIoctl.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace quorlink::platform::posix {

static_assert(sizeof(termios2) == sizeof(KernelTermios), "termios2 layout");

int GetKernelTermios(int fd, KernelTermios& t) {
  termios2 k{};
  if (ioctl(fd, TCGETS2, &k) != 0) return errno;
  std::memcpy(static_cast<void*>(&t), &k, sizeof k);
  return 0;
}

int SetKernelTermios(int fd, const KernelTermios& t) {
  termios2 k{};
  std::memcpy(&k, &t, sizeof k);
  return ioctl(fd, TCSETS2, &k) != 0 ? errno : 0;
}

}  // namespace quorlink::platform::posix
