// Output still pending at Close, with a device that reads at its own pace
// (a thread on the cable's far end): the port must open again at once in
// this process, and be let go of in bounded time for others.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "OsTestSupport.h"
#include "comport/ComPortTestSupport.h"
#include "support/SlowDevice.h"

namespace quorlink::testing {
namespace {

using namespace comport;

// A Connect right after a Close with output pending opens the port: the
// earlier session's bytes come first, none lost or doubled, then the new
// session's, and the reopen's purge spares the earlier output.
TEST(SerialDrainThreaded, AReopenTakesOverTheDrainingPortAndKeepsTheOrder) {
  CablePort p;
  const TQuorByteArray first = Pattern(512 * 1024, 1);
  const TQuorByteArray second = Pattern(64 * 1024, 7);
  p.port.Connect();
  p.Connection().Write(first);
  p.port.Close();  // nearly all of it is still queued: nobody reads yet
  ASSERT_NO_THROW(p.port.Connect());
  p.Connection().Write(second);
  const auto got = p.cable.Read(first.size() + second.size(), 20000);
  TQuorByteArray expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_EQ(std::mismatch(got.begin(), got.end(), expected.begin()).first - got.begin(),
            static_cast<std::ptrdiff_t>(got.size()))
      << "first wrong byte";
  // The port taken over is an ordinary open port: it reads, and closes.
  ASSERT_TRUE(p.cable.Write(Bytes("in")));
  ASSERT_TRUE(PumpUntil([&] { return p.log.received.size() >= 2; }));
  EXPECT_EQ(p.log.received, Bytes("in"));
  p.port.Close();
  p.port.Connect();
  EXPECT_TRUE(p.port.IsActive());
}

// Taken over again and again while the device reads slowly: every session's
// output arrives in order, and no thread or descriptor stays behind.
TEST(SerialDrainThreaded, RepeatedTakeoversWhileTheDeviceReadsLoseNothing) {
  CablePort p;
  SlowDevice device(p.cable, 4096, 1);
  TQuorByteArray expected;
  for (std::uint8_t i = 0; i < 10; ++i) {
    ASSERT_NO_THROW(p.port.Connect()) << int{i};
    // Smaller where every call costs far more (Wine): the last close's drain
    // has a time limit, and the blocks still pend at each close.
    const auto block = Pattern(48 * 1024 / kStressScale, i);
    p.Connection().Write(block);
    expected.insert(expected.end(), block.begin(), block.end());
    p.port.Close();
  }
  EXPECT_TRUE(PumpUntil([&] { return device.Received() >= expected.size(); }, 20000));
  const auto& got = device.Stop();
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

// Another program's open must not wait for as long as a slow device keeps
// taking bytes: the drain after Close lets go of the device in bounded time
// (here the device would need over a minute for all of it).
TEST(SerialDrainThreaded, ADrainThatKeepsProgressingLetsGoOfTheDevice) {
  CablePort p;
  if (!p.cable.FreeForOthers())
    GTEST_SKIP() << "every program may open this cable's port at any time (Wine)";
  p.port.Connect();
  p.Connection().Write(Pattern(4 << 20, 3));
  {
    SlowDevice device(p.cable, 512, 10);
    p.port.Close();
    // An open that is not ours (a descriptor of our own, as another program
    // would have) gets the device well before the output could have gone.
    bool free = false;
    for (int i = 0; i < 600 && !free; ++i) {
      PumpFor(50);
      free = *p.cable.FreeForOthers();
    }
    EXPECT_TRUE(free);
    EXPECT_GT(device.Received(), 0u);
  }
}

}  // namespace
}  // namespace quorlink::testing
