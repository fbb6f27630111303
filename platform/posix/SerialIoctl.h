// The few terminal ioctls that need the kernel's own termios header, which
// cannot share a file with the C library's.
#pragma once

#include "platform/posix/SerialTermios.h"

namespace quorlink::platform::posix {

// 0 or an errno value.
int GetKernelTermios(int fd, KernelTermios& t);
int SetKernelTermios(int fd, const KernelTermios& t);

}  // namespace quorlink::platform::posix
