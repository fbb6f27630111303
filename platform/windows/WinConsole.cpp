// The program's console on Windows: key input through the console's input
// records; from a pipe or file, bytes read one at a time.
#include <cstdio>

#include "platform/Console.h"

namespace quorlink::platform {

namespace {

class WinConsole final : public IConsole {
 public:
  bool InputIsTerminal() override {
    DWORD mode;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
  }

  void WriteOutput(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  void BeginKeyInput() override {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (depth_++ > 0 || !::GetConsoleMode(in, &saved_)) return;
    // Without processed input, Ctrl-C arrives as a key, so the console mode
    // is always put back.
    const DWORD raw = saved_ & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
    restore_ = ::SetConsoleMode(in, raw) != 0;
  }

  void EndKeyInput() override {
    if (depth_ == 0 || --depth_ > 0) return;
    if (restore_) ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), saved_);
    restore_ = false;
  }

  int ReadKey(TPollHandle wake) override {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) return kConsoleEnd;
    if (!InputIsTerminal()) {
      // A pipe or file cannot be waited on: the wake handle is not watched.
      char byte;
      DWORD got = 0;
      if (!::ReadFile(in, &byte, 1, &got, nullptr) || got != 1) return kConsoleEnd;
      return static_cast<unsigned char>(byte);
    }
    for (;;) {
      HANDLE handles[2] = {in, wake};
      const DWORD n = wake != kNoPollHandle ? 2 : 1;
      const DWORD r = ::WaitForMultipleObjects(n, handles, FALSE, INFINITE);
      if (r == WAIT_OBJECT_0 + 1) return kConsoleWake;
      if (r != WAIT_OBJECT_0) return kConsoleEnd;
      INPUT_RECORD record;
      DWORD got = 0;
      if (!::ReadConsoleInputA(in, &record, 1, &got)) return kConsoleEnd;
      // Mouse, focus and size events and key releases also wake the wait.
      if (got == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
          record.Event.KeyEvent.uChar.AsciiChar != 0)
        return static_cast<unsigned char>(record.Event.KeyEvent.uChar.AsciiChar);
    }
  }

 private:
  int depth_ = 0;
  bool restore_ = false;
  DWORD saved_ = 0;
};

}  // namespace

IConsole& OsConsole() {
  static WinConsole console;
  return console;
}

}  // namespace quorlink::platform
