#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Console.h"

namespace quorlink::platform {

namespace {

class PosixConsole : public IConsole {
 public:
  bool InputIsTerminal() override { return isatty(STDIN_FILENO) == 1; }

  void WriteOutput(std::string_view text) override {
    // Through stdio, so that it keeps its place among the program's other output.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  void BeginKeyInput() override {
    if (depth_++ > 0 || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    // Without ISIG, Ctrl-C arrives as a key, so that the terminal is always
    // put back instead of a signal ending the program in this mode.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    restore_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }

  void EndKeyInput() override {
    if (depth_ == 0 || --depth_ > 0) return;
    if (restore_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    restore_ = false;
  }

  int ReadKey(int wakeFd) override {
    for (;;) {
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeFd, POLLIN, 0}};
      int n = poll(fds, wakeFd >= 0 ? 2 : 1, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return kConsoleEnd;
      }
      if (fds[0].revents != 0) {
        unsigned char byte;
        ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) continue;
        return kConsoleEnd;
      }
      if (wakeFd >= 0 && fds[1].revents != 0) return kConsoleWake;
    }
  }

 private:
  int depth_ = 0;
  bool restore_ = false;
  termios saved_{};
};

}  // namespace

IConsole& OsConsole() {
  static PosixConsole console;
  return console;
}

}  // namespace quorlink::platform
