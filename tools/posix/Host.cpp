#include "tools/Host.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quorlink::tools {

SignalStop::SignalStop() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  // Blocked for the process's threads and taken through a descriptor instead.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  native_ = signalfd(-1, &signals, SFD_CLOEXEC);
}

SignalStop::~SignalStop() {
  ::close(static_cast<int>(native_));
}

bool SignalStop::Raised(int timeoutMs) const {
  pollfd p{static_cast<int>(native_), POLLIN, 0};
  int n;
  while ((n = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
  }
  return n > 0 && (p.revents & POLLIN) != 0;
}

bool SignalStop::EndRequested() const {
  // Taken signals stay pending until the descriptor is read, which nobody does.
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGHUP) == 1;
}

InputWaiter::InputWaiter(const SignalStop& stop) : stop_(stop) {
  int fds[2] = {-1, -1};
  if (pipe(fds) != 0) std::abort();
  cancel_[0] = fds[0];
  cancel_[1] = fds[1];
}

InputWaiter::~InputWaiter() {
  ::close(static_cast<int>(cancel_[0]));
  ::close(static_cast<int>(cancel_[1]));
}

InputWaiter::Result InputWaiter::Wait(bool withInput, int timeoutMs) {
  pollfd fds[3] = {{static_cast<int>(stop_.Native()), POLLIN, 0},
                   {static_cast<int>(cancel_[0]), POLLIN, 0},
                   {STDIN_FILENO, POLLIN, 0}};
  const int n = ::poll(fds, withInput ? 3 : 2, timeoutMs);
  if (n < 0) return kTimeout;  // EINTR: the caller waits again
  if (fds[0].revents != 0 || fds[1].revents != 0) return kStopped;
  if (withInput && fds[2].revents != 0) return kInput;
  return kTimeout;
}

long InputWaiter::Read(std::uint8_t* buffer, std::size_t size) {
  ssize_t n;
  while ((n = ::read(STDIN_FILENO, buffer, size)) < 0 && errno == EINTR) {
  }
  return static_cast<long>(n);
}

void InputWaiter::Cancel() {
  [[maybe_unused]] auto n = ::write(static_cast<int>(cancel_[1]), "x", 1);
}

bool WriteStandardOutput(const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t r = ::write(STDOUT_FILENO, p, size);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += r;
    size -= static_cast<std::size_t>(r);
  }
  return true;
}

bool StandardInputIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(getpid());
}

std::string MakeTemporaryDirectory(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace quorlink::tools
