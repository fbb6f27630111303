// Runs the built quorlink program as a child process: its standard input
// (and, for a terminal, its standard output) from a descriptor, what it
// writes otherwise captured, its exit awaited with a deadline (a child still
// running then is killed and counts as hung).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quorlink::testing::tools {

struct Exit {
  int code = -1;  // -1: did not end by itself before the deadline
  std::string out, err;
};

class Program {
 public:
  // stdinFd: the child's standard input (-1: /dev/null); stdoutFd its
  // standard output (-1: captured). Neither is closed here.
  explicit Program(const std::vector<std::string>& args, int stdinFd = -1, int stdoutFd = -1) {
    int outPipe[2] = {-1, -1}, errPipe[2];
    if ((stdoutFd < 0 && pipe2(outPipe, O_CLOEXEC) != 0) || pipe2(errPipe, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0)
      posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    else
      posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd >= 0 ? stdoutFd : outPipe[1],
                                     STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    std::vector<std::string> all{QUORLINK_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, QUORLINK_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (outPipe[1] >= 0) ::close(outPipe[1]);
    ::close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return pid_ > 0; }
  void Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);
  }
  // Standard error so far, without waiting.
  const std::string& ErrSoFar() {
    Collect(0);
    return exit_.err;
  }
  // Waits (bounded) until standard error holds `part`.
  bool WaitForErr(const std::string& part, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (exit_.err.find(part) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      // After the child's end the pipe reads nothing at once: no busy wait.
      if (!Collect(10)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  // Waits for the exit, reading its output meanwhile.
  Exit Wait(int timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        exit_.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        exit_.code = -1;
        break;
      }
      Collect(10);
    }
    // Everything the child wrote before it ended, however much.
    while (Collect(0)) {
    }
    return exit_;
  }

 private:
  // True when it read something.
  bool Collect(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) return false;
    char buf[4096];
    bool got = false;
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) (i == 0 ? exit_.out : exit_.err).append(buf, static_cast<std::size_t>(n));
      got = got || n > 0;
    }
    return got;
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  Exit exit_;
};

}  // namespace quorlink::testing::tools
