#include "tools/ProgramRun.h"

#include <chrono>

namespace quorlink::testing::tools {

const std::string& Program::ErrSoFar() {
  Collect(0);
  return exit_.err;
}

const std::string& Program::OutSoFar() {
  Collect(0);
  return exit_.out;
}

bool Program::WaitForErr(const std::string& part, int timeoutMs) {
  return WaitFor(&Exit::err, part, timeoutMs);
}

bool Program::WaitForOut(const std::string& part, int timeoutMs) {
  return WaitFor(&Exit::out, part, timeoutMs);
}

bool Program::WaitFor(std::string Exit::*which, const std::string& part, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while ((exit_.*which).find(part) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // After the child's end the pipe reads nothing at once: no busy wait.
    if (!Collect(10)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

Exit Program::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Ended()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      Kill();
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

}  // namespace quorlink::testing::tools
