#include "tools/LineInput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#if QUORLINK_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace quorlink::tools {

namespace {
// The editor's callbacks are plain functions: they reach the one reader here.
Completer* active = nullptr;
}  // namespace

#if QUORLINK_HAVE_LIBEDIT

namespace {
std::vector<std::string> matches;

char* NextMatch(const char*, int state) {
  static std::size_t next = 0;
  if (state == 0) next = 0;
  if (next >= matches.size()) return nullptr;
  return strdup(matches[next++].c_str());
}

char** CompleteLine(const char*, int, int end) {
  rl_attempted_completion_over = 1;  // no file names instead
  if (active == nullptr) return nullptr;
  matches = (*active)(std::string(rl_line_buffer, static_cast<std::size_t>(end)));
  return rl_completion_matches("", NextMatch);
}
}  // namespace

namespace {
constexpr int kHistoryLines = 1000;
}  // namespace

LineInput::LineInput(Completer completer, std::string historyFile)
    : completer_(std::move(completer)), historyFile_(std::move(historyFile)) {
  active = &completer_;
  rl_readline_name = const_cast<char*>("quorlink");
  rl_attempted_completion_function = CompleteLine;
  using_history();
  stifle_history(kHistoryLines);
  // A missing file is a first session.
  if (!historyFile_.empty()) read_history(historyFile_.c_str());
}

LineInput::~LineInput() {
  rl_attempted_completion_function = nullptr;
  active = nullptr;
}

std::optional<std::string> LineInput::Read(const std::string& prompt) {
  char* line = readline(prompt.c_str());
  if (line == nullptr) return std::nullopt;
  std::string text(line);
  std::free(line);
  if (text.find_first_not_of(" \t") != std::string::npos) {
    add_history(text.c_str());
    // Written at once: a session that is killed keeps what it was given.
    if (!historyFile_.empty()) write_history(historyFile_.c_str());
  }
  return text;
}

const char* LineInput::Editor() {
  return "libedit";
}

#else

LineInput::LineInput(Completer completer, std::string historyFile)
    : completer_(std::move(completer)), historyFile_(std::move(historyFile)) {
  active = &completer_;
}

LineInput::~LineInput() {
  active = nullptr;
}

std::optional<std::string> LineInput::Read(const std::string& prompt) {
  std::cout << prompt << std::flush;
  std::string text;
  if (!std::getline(std::cin, text)) return std::nullopt;
  return text;
}

const char* LineInput::Editor() {
  return "no line editor (built without libedit)";
}

#endif

}  // namespace quorlink::tools
