#include "platform/Console.h"

namespace quorlink::platform {

namespace {
ApiSlot<IConsole> consoleSlot;
}  // namespace

IConsole& Console() {
  return consoleSlot.Get(OsConsole());
}
IConsole* SetConsole(IConsole* api) {
  return consoleSlot.Set(api);
}

}  // namespace quorlink::platform
