#include "tools/CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "quorlink/platform/Serial.h"
#include "tools/Failures.h"
#include "tools/Nearest.h"

namespace quorlink::tools {

namespace {

class UsageFormatter : public CLI::Formatter {
 public:
  explicit UsageFormatter(std::string usage) : usage_(std::move(usage)) {}
  std::string make_usage(const CLI::App*, std::string) const override { return usage_ + "\n"; }
  // The usage comes first; what a subcommand is for its parent lists.
  std::string make_description(const CLI::App*) const override { return {}; }

 private:
  std::string usage_;
};

// "did you mean --baud?" for the first word that looks like an option the
// command does not have (a single letter: the first option it starts), or
// for a subcommand it does not have.
std::string OptionHint(const CLI::App& app, const Args& args) {
  std::vector<std::string> names, subcommands;
  for (const CLI::Option* o : app.get_options())
    for (const auto& n : o->get_lnames()) names.push_back("--" + n);
  for (const CLI::App* sub : app.get_subcommands({})) subcommands.push_back(sub->get_name());
  if (!subcommands.empty() && !args.empty() && args[0][0] != '-' &&
      std::find(subcommands.begin(), subcommands.end(), args[0]) == subcommands.end()) {
    const std::string closest = Nearest(args[0], subcommands);
    if (!closest.empty()) return "did you mean '" + closest + "' (for '" + args[0] + "')?\n";
  }
  for (const auto& a : args) {
    if (a.size() < 2 || a[0] != '-' || a == "--") continue;
    const std::string word = a.substr(0, a.find('='));
    if (std::find(names.begin(), names.end(), word) != names.end() || word == "-h") continue;
    std::string closest;
    if (word.size() == 2) {
      for (const auto& n : names)
        if (closest.empty() && n[2] == word[1]) closest = n;
    } else {
      closest = Nearest(word, names);
    }
    if (!closest.empty()) return "did you mean " + closest + " (for " + word + ")?\n";
  }
  return {};
}

std::string Usage(const CLI::App& app) {
  const auto* f = dynamic_cast<const UsageFormatter*>(app.get_formatter().get());
  return f != nullptr ? f->make_usage(&app, {}) : std::string{};
}

}  // namespace

CLI::Validator Check(std::function<std::string(const std::string&)> check) {
  return CLI::Validator([check](std::string& value) { return check(value); }, "", "");
}

const char* const kBindHelp =
    "--bind COMn=PATH makes COMn name a device (repeatable); QUORLINK_BIND holds more,\n"
    "comma-separated (QUORLINK_BIND=COM7=/dev/ttyUSB0,COM8=/dev/ttyACM0).";

void DescribeCommand(CLI::App& app, const std::string& usage, const std::string& notes) {
  app.formatter(std::make_shared<UsageFormatter>(usage));
  app.footer(notes.empty() ? std::string(kExitCodeHelp) : notes + "\n\n" + kExitCodeHelp);
  app.set_help_flag("-h,--help", "show this help");
}

std::optional<int> ParseArgs(CLI::App& app, const Args& args) {
  std::vector<const char*> argv{app.get_name().c_str()};
  for (const auto& a : args) argv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    CLI::App* shown = &app;
    // The help of the subcommand it was asked of.
    for (CLI::App* sub : app.get_subcommands()) shown = sub;
    std::fputs(shown->help().c_str(), stdout);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    CLI::App* failed = &app;
    for (CLI::App* sub : app.get_subcommands()) failed = sub;
    std::string usage = Usage(*failed);
    if (usage.empty()) usage = Usage(app);
    std::string name = app.get_name();
    if (failed != &app) name += " " + failed->get_name();
    return Fail(
        e.what() + ("\n" + OptionHint(*failed, args) + usage) + "'" + name + " --help' says more.",
        kExitUsage);
  }
  return std::nullopt;
}

void AddTerminalOptions(CLI::App& app, TerminalOptions& o) {
  auto map = Check([](const std::string& v) {
    std::string bad;
    return ParseMap(v, &bad)
               ? std::string{}
               : "'" + bad + "' is not a map (crlf, crcrlf, igncr, lfcr, lfcrlf, ignlf)";
  });
  app.add_flag("--echo", o.echo, "show what is sent, too");
  app.add_flag("--hex", o.hex, "show what arrives in hex and as text");
  app.add_option_function<std::string>(
         "--imap", [&o](const std::string& v) { o.imap = *ParseMap(v); },
         "map CR/LF in what arrives")
      ->type_name("MAP")
      ->check(map);
  app.add_option_function<std::string>(
         "--omap", [&o](const std::string& v) { o.omap = *ParseMap(v); },
         "map CR/LF in what is sent")
      ->type_name("MAP")
      ->check(map);
  app.add_option("--log", o.log, "append what arrives (after --imap) to FILE")->type_name("FILE");
}

void AddBindOption(CLI::App& app, std::vector<std::string>& binds) {
  app.add_option("--bind", binds, "make COMn name the device at PATH")
      ->type_name("COMn=PATH")
      ->allow_extra_args(false);
}

std::string ApplyBindings(const std::vector<std::string>& given) {
  std::vector<std::string> binds;
  if (const char* env = std::getenv("QUORLINK_BIND")) {
    std::stringstream words(env);
    for (std::string w; std::getline(words, w, ',');)
      if (!w.empty()) binds.push_back(w);
  }
  // The command line wins over the environment.
  binds.insert(binds.end(), given.begin(), given.end());
  for (const auto& b : binds) {
    const auto eq = b.find('=');
    const auto number = platform::ComPortNumber(b.substr(0, eq == std::string::npos ? 0 : eq));
    if (eq == std::string::npos || !number || *number < 1 || *number > 255 || eq + 1 == b.size())
      return "'" + b + "' is not COMn=PATH with n from 1 to 255";
    platform::BindComPort(*number, b.substr(eq + 1));
  }
  return {};
}

}  // namespace quorlink::tools
