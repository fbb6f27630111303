#include "tools/Commands.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>

#include "quorlink/core/QuorBaseComponent.h"
#include "quorlink/core/Version.h"
#include "tools/CommandLine.h"
#include "tools/Failures.h"
#include "tools/Nearest.h"

namespace quorlink::tools {

namespace {
struct Command {
  std::string usage;
  std::string summary;
  CommandFn fn;
};
struct Demo {
  int order;
  std::string title;
  DemoFn fn;
};
std::map<std::string, Command>& CommandTable() {
  static std::map<std::string, Command> table;
  return table;
}
std::vector<Demo>& DemoTable() {
  static std::vector<Demo> table;
  return table;
}

void PrintHelp() {
  std::printf(
      "Quorlink Library %s: event-driven byte-stream links to serial ports and\n"
      "Bluetooth RFCOMM services.\n\n"
      "Usage: quorlink COMMAND [ARGS]\n\n"
      "Commands:\n",
      VersionText(TQuorBaseComponent(nullptr).GetVersion()).c_str());
  std::printf("  %-58s %s\n", "--help", "show this text");
  std::printf("  %-58s %s\n", "--version", "show the library's title and version");
  std::printf("  %-58s %s\n", "demo", "run a whole session on virtual devices (no hardware)");
  for (const auto& [name, cmd] : CommandTable())
    std::printf("  %-58s %s\n", cmd.usage.c_str(), cmd.summary.c_str());
  std::printf(
      "\n'quorlink COMMAND --help' shows a command's usage; --verbose anywhere adds the\n"
      "system's error codes to failures.\n%s\n",
      kExitCodeHelp);
}

int RunDemo(const Args& args) {
  CLI::App app("", "quorlink demo");
  DescribeCommand(app, "usage: quorlink demo",
                  "Runs a serial session on a pty pair and a Bluetooth session on two virtual\n"
                  "radios, printing each call and event; no hardware is needed.");
  if (auto rc = ParseArgs(app, args)) return *rc;
  auto demos = DemoTable();
  std::stable_sort(demos.begin(), demos.end(),
                   [](const Demo& a, const Demo& b) { return a.order < b.order; });
  std::printf("Quorlink demo: %zu section(s)\n", demos.size());
  int failures = 0;
  for (const Demo& d : demos) {
    std::printf("\n== %s\n", d.title.c_str());
    std::fflush(stdout);
    int rc = d.fn();
    if (rc != 0) ++failures;
  }
  std::printf("\nDemo finished: %zu section(s), %d failed.\n", demos.size(), failures);
  return failures == 0 ? 0 : 1;
}
}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, const char* usage, const char* summary,
                                   CommandFn fn) {
  CommandTable()[name] = Command{usage, summary, fn};
}

DemoRegistrar::DemoRegistrar(int order, const char* title, DemoFn fn) {
  DemoTable().push_back(Demo{order, title, fn});
}

int Fail(const std::string& message, int code) {
  std::fprintf(stderr, "quorlink: %s\n", message.c_str());
  return code;
}

int RunCommandLine(int argc, char** argv) {
  Args args(argv + (argc > 0 ? 1 : 0), argv + argc);
  // --verbose adds the system's error codes to failures, for every command.
  for (auto it = args.begin(); it != args.end() && *it != "--";) {
    if (*it == "--verbose") {
      SetVerbose(true);
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp();
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version") {
    std::printf("%s %s\n", TQuorBaseComponent(nullptr).GetAbout().c_str(), QUORLINK_VERSION_STRING);
    return 0;
  }
  try {
    if (args[0] == "demo") return RunDemo(Args(args.begin() + 1, args.end()));
    auto it = CommandTable().find(args[0]);
    if (it == CommandTable().end()) {
      std::vector<std::string> names{"demo", "--help", "--version"};
      for (const auto& [name, cmd] : CommandTable()) names.push_back(name);
      const std::string closest = Nearest(args[0], names);
      Fail("unknown command '" + args[0] + "'" +
           (closest.empty() ? std::string{} : "; did you mean '" + closest + "'?") +
           " (see quorlink --help)");
      return 2;
    }
    return it->second.fn(Args(args.begin() + 1, args.end()));
  } catch (const std::exception& e) {
    return Fail(FailureText(e), ExitCodeFor(e));
  }
}

}  // namespace quorlink::tools
