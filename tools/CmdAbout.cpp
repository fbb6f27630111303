#include "quorlink/core/QuorBaseComponent.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"

namespace quorlink::tools {
namespace {

int About(const Args& args) {
  CLI::App app("", "quorlink about");
  DescribeCommand(app, "usage: quorlink about",
                  "Shows the About box (as text when there is no display).");
  if (auto rc = ParseArgs(app, args)) return *rc;
  TQuorBaseComponent component(nullptr);
  component.ShowAbout();
  return 0;
}

const CommandRegistrar aboutCommand("about", "about", "show the About box", About);

}  // namespace
}  // namespace quorlink::tools
