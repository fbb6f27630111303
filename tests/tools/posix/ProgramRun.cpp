// POSIX: posix_spawn with the streams dup'ed in, pipes read with poll.
#include "tools/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorlink::testing::tools {

struct Program::Child {
  pid_t pid = -1;
  int out = -1, err = -1;
};

Program::Program(const std::vector<std::string>& args, Stream in, Stream out)
    : child_(std::make_unique<Child>()) {
  int outPipe[2] = {-1, -1}, errPipe[2];
  if ((out < 0 && pipe2(outPipe, O_CLOEXEC) != 0) || pipe2(errPipe, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0)
    posix_spawn_file_actions_adddup2(&actions, static_cast<int>(in), STDIN_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out >= 0 ? static_cast<int>(out) : outPipe[1],
                                   STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  std::vector<std::string> all{QUORLINK_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&child_->pid, QUORLINK_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
    child_->pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (outPipe[1] >= 0) ::close(outPipe[1]);
  ::close(errPipe[1]);
  child_->out = outPipe[0];
  child_->err = errPipe[0];
}

Program::~Program() {
  Kill();
  if (child_->out >= 0) ::close(child_->out);
  if (child_->err >= 0) ::close(child_->err);
}

bool Program::Started() const {
  return child_->pid > 0;
}

bool Program::Signal(int signal) const {
  return child_->pid > 0 && kill(child_->pid, signal) == 0;
}

bool Program::Ended() {
  if (child_->pid <= 0) return true;
  int status = 0;
  if (waitpid(child_->pid, &status, WNOHANG) != child_->pid) return false;
  child_->pid = -1;
  exit_.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

void Program::Kill() {
  if (child_->pid <= 0) return;
  kill(child_->pid, SIGKILL);
  waitpid(child_->pid, nullptr, 0);
  child_->pid = -1;
}

bool Program::Collect(int timeoutMs) {
  pollfd fds[2] = {{child_->out, POLLIN, 0}, {child_->err, POLLIN, 0}};
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

Feeder::Feeder(std::vector<std::uint8_t> data, bool holdOpen)
    : data_(std::move(data)), holdOpen_(holdOpen) {
  signal(SIGPIPE, SIG_IGN);  // the child may quit before it has read all
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  read_ = fds[0];
  write_ = fds[1];
  thread_ = std::thread([this] {
    std::size_t at = 0;
    while (at < data_.size()) {
      const ssize_t n = ::write(static_cast<int>(write_), data_.data() + at, data_.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    if (!holdOpen_) CloseWriteEnd();
    done_ = true;
  });
}

void Feeder::CloseWriteEnd() {
  if (write_ >= 0) ::close(static_cast<int>(write_));
  write_ = kNoStream;
}

void Feeder::End() {
  if (thread_.joinable()) thread_.join();
  CloseWriteEnd();
}

Feeder::~Feeder() {
  if (read_ >= 0) ::close(static_cast<int>(read_));
  End();
}

}  // namespace quorlink::testing::tools
