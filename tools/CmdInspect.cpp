// `quorlink inspect`: the designer this platform lacks. A property inspector
// over one form, built on the design registry and the library's editors:
// interactive at a terminal, or a script from arguments or standard input.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "design/DesignSession.h"
#include "design/FormFile.h"
#include "quorlink/design/PaletteBitmaps.h"
#include "quorlink/design/QuorPropEdit.h"
#include "quorlink/design/QuorReg.h"
#include "tools/BluetoothSession.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "tools/Failures.h"
#include "tools/Host.h"
#include "tools/LineInput.h"

namespace quorlink::tools {
namespace {

constexpr const char* kCmdInspectUsage =
    "usage: quorlink inspect [--dir PATH] [-e COMMAND]... [SCRIPT|-]\n"
    "       quorlink inspect --bitmap NAME FILE";
constexpr const char* kCmdInspectNotes =
    "A script (or standard input that is not a terminal) runs one command per line and stops "
    "at the first failure. Commands:\n";

int WriteBitmap(const std::string& name, const std::string& file) {
  const auto* bytes = FindPaletteBitmap(name);
  if (bytes == nullptr) {
    std::string names;
    for (const auto& n : PaletteBitmapNames()) names += " " + n;
    return Fail("no palette bitmap " + name + " (there are:" + names + ")");
  }
  SaveFormFile(file, std::string(bytes->begin(), bytes->end()));
  return 0;
}

// Runs lines until one fails; the failing line is named.
int RunScript(TDesignSession& session, std::istream& in, const std::string& source) {
  std::string line;
  for (int number = 1; !session.Finished() && std::getline(in, line); ++number)
    if (!session.Execute(line)) return Fail("stopped at " + source + ":" + std::to_string(number));
  return 0;
}

// Where the lines typed at the prompt are kept between sessions:
// $XDG_STATE_HOME/quorlink/inspect_history (~/.local/state without it); empty
// when there is no home to keep them in.
std::string HistoryFile() {
  std::filesystem::path dir;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
    dir = state;
  else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    dir = std::filesystem::path(home) / ".local" / "state";
  else
    return {};
  std::error_code ignored;
  std::filesystem::create_directories(dir / "quorlink", ignored);
  return (dir / "quorlink" / "inspect_history").string();
}

int Interactive(TDesignSession& session) {
  std::cout << "Quorlink designer: one form, the palette of the loaded library. "
            << "Type help for the commands (" << LineInput::Editor() << ").\n";
  LineInput input([&](const std::string& line) { return session.Complete(line); }, HistoryFile());
  while (!session.Finished()) {
    auto line = input.Read("inspect> ");
    if (!line) break;
    session.Execute(*line);
  }
  return 0;
}

int Inspect(const Args& args) {
  std::string dir;
  std::vector<std::string> commands, bitmap;
  std::optional<std::string> script;
  CLI::App app("", "quorlink inspect");
  DescribeCommand(app, kCmdInspectUsage, kCmdInspectNotes + TDesignSession::HelpText());
  auto* bitmapOption = app.add_option("--bitmap", bitmap, "write a palette image as a BMP file")
                           ->type_name("NAME FILE")
                           ->expected(2);
  app.add_option("--dir", dir, "the virtual radios' rendezvous directory")
      ->type_name("PATH")
      ->excludes(bitmapOption);
  app.add_option("-e", commands, "run COMMAND (repeatable)")
      ->type_name("COMMAND")
      ->allow_extra_args(false)
      ->excludes(bitmapOption);
  app.add_option("SCRIPT", script, "a file of commands, or - for standard input")
      ->excludes(bitmapOption);
  if (auto rc = ParseArgs(app, args)) return *rc;
  if (!bitmap.empty()) return WriteBitmap(bitmap[0], bitmap[1]);
  // The host loads the library: its palette page and editors.
  Register();
  TDesignSession session(std::cout, std::cerr);
  std::unique_ptr<BluetoothSession> bluetooth;
  session.BeforeDialog = [&](const TPropertyEditor& editor) {
    // The device picker needs a radio of this program's own; no other
    // dialog does (the About box is text without a display).
    if (!bluetooth && dynamic_cast<const TQuorBTAddressEdit*>(&editor) != nullptr)
      bluetooth = std::make_unique<BluetoothSession>(dir, true, std::nullopt, "quorlink inspect");
  };
  if (!commands.empty()) {
    for (std::size_t i = 0; i < commands.size() && !session.Finished(); ++i)
      if (!session.Execute(commands[i]))
        return Fail("stopped at -e " + std::to_string(i + 1) + ": " + commands[i]);
    if (!script) return 0;
  }
  if (script && *script != "-") {
    std::ifstream in(*script);
    if (!in) return Fail("cannot read " + *script);
    return RunScript(session, in, *script);
  }
  if (!script && StandardInputIsTerminal()) return Interactive(session);
  return RunScript(session, std::cin, "standard input");
}

const CommandRegistrar inspectCommand(
    "inspect", "inspect [--dir PATH] [-e COMMAND]... [SCRIPT|-] | --bitmap NAME FILE",
    "design a form: palette, property inspector, form files", Inspect);

}  // namespace
}  // namespace quorlink::tools
