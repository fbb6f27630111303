#include "tools/Terminal.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <thread>

#include "quorlink/core/Application.h"
#include "quorlink/core/Threads.h"

namespace quorlink::tools {

bool WriteScreen(const std::string& text) {
  return WriteStandardOutput(text.data(), text.size());
}

int RunTerminal(TQuorCustomTransport& transport, TerminalSession& session, const SignalStop& stop,
                const std::atomic<bool>* ready, const std::function<void(char)>& onCommand) {
  InputWaiter waiter(stop);
  int rc = 0;
  std::atomic<bool> inputDone{false};
  std::thread input([&] {
    std::uint8_t buf[4096];
    for (bool quit = false; !quit;) {
      const bool reading = ready == nullptr || ready->load();
      const InputWaiter::Result r = waiter.Wait(reading, reading ? -1 : 10);
      if (r == InputWaiter::kStopped) break;
      if (r != InputWaiter::kInput) continue;
      const long n = waiter.Read(buf, sizeof buf);
      if (n <= 0) break;  // end of input
      TerminalSession::Typed typed = session.FromKeys(buf, static_cast<std::size_t>(n));
      quit = typed.quit;
      if (!typed.note.empty()) std::fputs(typed.note.c_str(), stderr);
      if (typed.device.empty() && (typed.commands.empty() || !onCommand)) continue;
      TQuorByteArray chunk(typed.device.begin(), typed.device.end());
      try {
        TThread::Synchronize([&] {
          if (!chunk.empty() && transport.ConnectionCount() > 0)
            transport.GetConnections(0)->Write(chunk);
          if (onCommand)
            for (char c : typed.commands) onCommand(c);
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
  waiter.Cancel();
  // The input thread may wait in Synchronize: keep the loop turning.
  while (!inputDone.load()) platform::Messages().ProcessMessage(10);
  input.join();
  return rc;
}

}  // namespace quorlink::tools
