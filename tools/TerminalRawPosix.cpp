#include <termios.h>
#include <unistd.h>

#include "tools/TerminalRaw.h"

namespace quorlink::tools {

struct RawKeyboard::Saved {
  termios attributes;
};

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) != 0;
}

RawKeyboard::RawKeyboard() {
  termios t{};
  if (!StdinIsTerminal() || tcgetattr(STDIN_FILENO, &t) != 0) return;
  saved_ = std::make_unique<Saved>(Saved{t});
  // Input only: what the program writes is shown as the terminal is set to
  // show it (a bare LF from the device still starts a new line).
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &t) != 0) saved_.reset();
}

RawKeyboard::~RawKeyboard() {
  if (saved_) tcsetattr(STDIN_FILENO, TCSADRAIN, &saved_->attributes);
}

}  // namespace quorlink::tools
