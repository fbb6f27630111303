#include "tools/Terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <thread>

#include "core/Application.h"
#include "core/Threads.h"

namespace quorlink::tools {

bool WriteScreen(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t r = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(r);
  }
  return true;
}

int RunTerminal(TQuorCustomTransport& transport, TerminalSession& session, const SignalStop& stop,
                const std::atomic<bool>* ready) {
  int stopPipe[2];
  if (pipe(stopPipe) != 0) {
    std::fprintf(stderr, "quorlink: cannot make a pipe\n");
    return 1;
  }
  int rc = 0;
  std::atomic<bool> inputDone{false};
  std::thread input([&] {
    pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0},
                     {static_cast<int>(stop.Native()), POLLIN, 0},
                     {stopPipe[0], POLLIN, 0}};
    std::uint8_t buf[4096];
    for (bool quit = false; !quit;) {
      const bool reading = ready == nullptr || ready->load();
      if (::poll(reading ? fds : fds + 1, reading ? 3 : 2, reading ? -1 : 10) < 0) continue;
      if (fds[1].revents != 0 || fds[2].revents != 0) break;
      if (!reading || fds[0].revents == 0) continue;
      const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
      if (n <= 0) break;  // end of input
      TerminalSession::Typed typed = session.FromKeys(buf, static_cast<std::size_t>(n));
      quit = typed.quit;
      if (!typed.note.empty()) std::fputs(typed.note.c_str(), stderr);
      if (typed.device.empty()) continue;
      TQuorByteArray chunk(typed.device.begin(), typed.device.end());
      try {
        TThread::Synchronize([&] {
          if (transport.ConnectionCount() > 0) transport.GetConnections(0)->Write(chunk);
        });
      } catch (const std::exception& e) {
        std::fprintf(stderr, "quorlink: %s\n", e.what());
        rc = 1;
        break;
      }
      if (!typed.screen.empty()) WriteScreen(typed.screen);
    }
    inputDone.store(true);
    Application().Terminate();
  });
  Application().Run();
  [[maybe_unused]] auto w = ::write(stopPipe[1], "x", 1);
  // The input thread may wait in Synchronize: keep the loop turning.
  while (!inputDone.load()) platform::Messages().ProcessMessage(10);
  input.join();
  ::close(stopPipe[0]);
  ::close(stopPipe[1]);
  return rc;
}

}  // namespace quorlink::tools
