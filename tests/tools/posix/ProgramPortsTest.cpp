// `quorlink ports --watch` on the kernel's own uevent socket: it starts with
// the ports present (a bound pty among them) and an interrupt ends it cleanly.
#include <gtest/gtest.h>
#include <signal.h>

#include "support/PtyPair.h"
#include "tools/ProgramRun.h"

namespace quorlink::testing {
namespace {

using tools::Exit;
using tools::Has;
using tools::Program;

TEST(QuorlinkProgram, PortsWatchRunsUntilInterrupted) {
  PtyPair pty;
  Program p({"ports", "--watch", "--bind", "COM9=" + pty.SlavePath()});
  ASSERT_TRUE(p.WaitForErr("Ctrl-C stops")) << p.ErrSoFar();
  EXPECT_FALSE(Has(p.ErrSoFar(), "watching 0 ")) << p.ErrSoFar();
  p.Signal(SIGINT);
  const Exit e = p.Wait(10000);
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(e.out, "");  // nothing came or went
}

}  // namespace
}  // namespace quorlink::testing
