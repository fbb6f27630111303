// Reading the inspector's command lines at a terminal: with history and
// completion where the program was built with libedit, plainly otherwise.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorlink::tools {

// The words that may complete the last word of a partial line.
using Completer = std::function<std::vector<std::string>(const std::string& line)>;

class LineInput {
 public:
  // With a history file, the lines of earlier sessions come back with the
  // arrow keys, and each line read is added to the file at once.
  explicit LineInput(Completer completer, std::string historyFile = {});
  ~LineInput();
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;

  // The next line without its ending; nullopt at the end of input.
  std::optional<std::string> Read(const std::string& prompt);
  // Which line editor serves, for the banner.
  static const char* Editor();

 private:
  Completer completer_;
  std::string historyFile_;
};

}  // namespace quorlink::tools
