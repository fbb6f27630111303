// The demo sections wait for their events by running the main loop.
#pragma once

#include "quorlink/platform/Messages.h"

namespace quorlink::tools {

// Runs the main loop in turns of up to 5 ms until done() holds or the turns
// run out; says whether done() holds.
template <class F>
bool PumpUntil(F done, int turns) {
  for (int i = 0; i < turns && !done(); ++i) platform::Messages().ProcessMessage(5);
  return done();
}

}  // namespace quorlink::tools
