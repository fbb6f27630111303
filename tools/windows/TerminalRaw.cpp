// The console's keyboard taken raw: no line input, no echo, and Ctrl-C read
// as a key (processed input off). The mode comes back when the scope ends
// and, since a closing console ends the process once its control handlers
// return, from a control handler too.
#include "tools/TerminalRaw.h"

#include <windows.h>

#include <atomic>

namespace quorlink::tools {

namespace {

// The mode to put back while a RawKeyboard is alive; kNone otherwise.
constexpr DWORD kNone = 0xFFFFFFFF;
std::atomic<DWORD> savedMode{kNone};

void Restore() {
  const DWORD mode = savedMode.exchange(kNone);
  if (mode != kNone) ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), mode);
}

// Runs before the program's own handler (handlers run newest first) and
// passes every event on to it.
BOOL WINAPI RestoreModeOnControl(DWORD) {
  Restore();
  return FALSE;
}

}  // namespace

struct RawKeyboard::Saved {
  DWORD mode;
};

bool StdinIsTerminal() {
  DWORD mode;
  return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

RawKeyboard::RawKeyboard() {
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode;
  if (!::GetConsoleMode(in, &mode)) return;
  const DWORD raw =
      mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  savedMode.store(mode);
  ::SetConsoleCtrlHandler(RestoreModeOnControl, TRUE);
  if (!::SetConsoleMode(in, raw)) {
    ::SetConsoleCtrlHandler(RestoreModeOnControl, FALSE);
    savedMode.store(kNone);
    return;
  }
  saved_ = std::make_unique<Saved>(Saved{mode});
}

RawKeyboard::~RawKeyboard() {
  if (!saved_) return;
  Restore();
  ::SetConsoleCtrlHandler(RestoreModeOnControl, FALSE);
}

}  // namespace quorlink::tools
