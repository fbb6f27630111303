// The keyboard taken raw for the scope of a terminal session: each key is
// read as it is typed, with no echo, no line editing and no signal keys;
// the terminal's own settings come back when the scope ends, however it ends.
#pragma once

#include <memory>

namespace quorlink::tools {

// True when standard input is a terminal.
bool StdinIsTerminal();

class RawKeyboard {
 public:
  // Does nothing when standard input is not a terminal.
  RawKeyboard();
  ~RawKeyboard();
  RawKeyboard(const RawKeyboard&) = delete;
  RawKeyboard& operator=(const RawKeyboard&) = delete;
  bool Active() const { return saved_ != nullptr; }

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

}  // namespace quorlink::tools
