#include "core/QuorBaseComponent.h"
#include "tools/Commands.h"

namespace quorlink::tools {
namespace {

int About(const Args&) {
  TQuorBaseComponent component(nullptr);
  component.ShowAbout();
  return 0;
}

const CommandRegistrar reg("about", "about", "show the About box", About);

}  // namespace
}  // namespace quorlink::tools
