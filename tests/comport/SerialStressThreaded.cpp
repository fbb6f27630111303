// Threaded stress of the serial transport (run under ThreadSanitizer too):
// many open/close cycles with traffic both ways, closes racing deliveries,
// and echo while the reader runs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "OsTestSupport.h"
#include "comport/ComPortTestSupport.h"

namespace quorlink::testing {
namespace {

using namespace comport;

TEST(SerialStressThreaded, ThousandCyclesLeaveNoDescriptorOrThread) {
  SerialCable cable;
  ScopedComBinding binding(50, cable.PortPath());
  EventLog log;
  TQuorComPort port(nullptr);
  port.SetPort(50);
  log.Attach(port);
  // One warm-up cycle makes the process-wide pieces (message window) first.
  port.Connect();
  port.Close();
  const int fdsBefore = HandleCount();
  const int threadsBefore = ThreadCount();

  const int rounds = StressRounds(1000);
  for (int i = 0; i < rounds; ++i) {
    port.Connect();
    ASSERT_TRUE(cable.Write(Bytes("ping")));
    log.received.clear();
    ASSERT_TRUE(PumpUntil([&] { return log.received.size() >= 4; })) << i;
    port.GetConnections(0)->Write(Bytes("pong"));
    ASSERT_EQ(cable.Read(4), Bytes("pong")) << i;
    port.Close();
  }
  EXPECT_EQ(log.Count("connect"), rounds + 1);
  EXPECT_EQ(log.Count("disconnect"), rounds + 1);
  EXPECT_TRUE(PumpUntil(
      [&] { return HandleCount() <= fdsBefore && ThreadCount() <= threadsBefore; }, 10000))
      << "fds " << HandleCount() << " (was " << fdsBefore << "), threads " << ThreadCount()
      << " (was " << threadsBefore << ")";
}

// Closes land while the reader holds a chunk for the main thread: the
// delivery must come to nothing and neither side may wait for the other.
TEST(SerialStressThreaded, ClosesRacingDeliveriesDeliverNothingLate) {
  SerialCable cable;
  ScopedComBinding binding(51, cable.PortPath());
  int readsAfterClose = 0;
  bool open = false;
  TQuorComPort port(nullptr);
  port.SetPort(51);
  port.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray&) {
    if (!open) ++readsAfterClose;
  };
  port.Connect();  // warm-up, as above
  port.Close();
  const int threadsBefore = ThreadCount();
  for (int i = 0, rounds = StressRounds(200); i < rounds; ++i) {
    port.Connect();
    open = true;
    ASSERT_TRUE(cable.Write(Bytes("x")));
    // Vary how far the reader gets before the close.
    if (i % 3 == 1) platform::Messages().ProcessMessage(0);
    if (i % 3 == 2) std::this_thread::sleep_for(std::chrono::microseconds(200));
    port.Close();
    open = false;
    cable.Read(1, 0);
  }
  PumpFor(100);
  EXPECT_EQ(readsAfterClose, 0);
  EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= threadsBefore; }, 10000))
      << ThreadCount() << " threads, " << threadsBefore << " before";
}

TEST(SerialStressThreaded, EchoWhileTheReaderRuns) {
  SerialCable cable;
  ScopedComBinding binding(52, cable.PortPath());
  TQuorComPort port(nullptr);
  port.SetPort(52);
  std::size_t echoed = 0;
  port.OnRead = [&](TQuorCustomConnection* c, const TQuorByteArray& buf) {
    c->Write(buf);
    echoed += buf.size();
  };
  port.Connect();
  TQuorByteArray data(256 * 1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 253);
  TQuorByteArray back;
  std::thread device([&] {
    // The device writes in bursts and reads the echo as it comes.
    for (std::size_t at = 0; at < data.size(); at += 4096) {
      cable.Write(data.data() + at, std::min<std::size_t>(4096, data.size() - at));
      auto got = cable.Read(1, 0);
      back.insert(back.end(), got.begin(), got.end());
    }
    auto rest = cable.Read(data.size() - back.size(), 20000);
    back.insert(back.end(), rest.begin(), rest.end());
  });
  PumpUntil([&] { return echoed >= data.size(); }, 20000);
  device.join();
  EXPECT_EQ(back, data);
  port.Close();
}

// A device that streams faster than OnRead takes it: the port reads on after
// a full terminal read, so chunks grow to the input queue. Every byte still
// comes once and in order, no chunk is empty, nothing comes after Close.
TEST(SerialStressThreaded, AStreamComesWholeAndInOrder) {
  SerialCable cable;
  ScopedComBinding binding(53, cable.PortPath());
  TQuorComPort port(nullptr);
  port.SetPort(53);
  TQuorByteArray data(512 * 1024), got;
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 % 251);
  int emptyChunks = 0;
  port.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    emptyChunks += buf.empty();
    got.insert(got.end(), buf.begin(), buf.end());
  };
  port.Connect();
  std::thread device([&] {
    for (std::size_t at = 0; at < data.size(); at += 65536)
      if (!cable.Write(data.data() + at, 65536)) return;
  });
  EXPECT_TRUE(PumpUntil([&] { return got.size() >= data.size(); }, 30000));
  device.join();
  port.Close();
  const std::size_t atClose = got.size();
  cable.Write(Bytes("late"));
  PumpFor(50);
  EXPECT_EQ(got.size(), atClose);
  EXPECT_TRUE(got == data) << got.size() << " bytes, " << data.size() << " sent";
  EXPECT_EQ(emptyChunks, 0);
}

// Output still queued at Close goes out from a thread of its own, which then
// lets go of the device: nothing stays behind, and every byte arrives.
TEST(SerialStressThreaded, ClosingWithOutputQueuedLeavesNothingBehind) {
  SerialCable cable;
  ScopedComBinding binding(53, cable.PortPath());
  TQuorComPort port(nullptr);
  port.SetPort(53);
  port.Connect();  // warm-up, as above
  port.Close();
  const int fdsBefore = HandleCount();
  const int threadsBefore = ThreadCount();
  std::atomic<std::size_t> received{0};
  std::atomic<bool> stop{false};
  std::thread device([&] {
    while (!stop.load()) received += cable.Read(1 << 20, 20).size();
  });
  // A failed assertion returns early: the device's thread still ends.
  struct Join {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Join() {
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } join{stop, device};
  // Smaller where every call costs far more (Wine): each close's drain has
  // a time limit.
  const TQuorByteArray block(128 * 1024 / kStressScale, 0x33);
  for (std::size_t i = 0; i < 20; ++i) {
    // Each cycle starts once the device has all of the last one (the count
    // tells them apart); the port may still be letting go of it.
    ASSERT_TRUE(PumpUntil([&] { return received.load() == i * block.size(); }, 20000)) << i;
    ASSERT_TRUE(PumpUntil(
        [&] {
          try {
            port.Connect();
            return true;
          } catch (const EQuorTransportException&) {
            return false;
          }
        },
        20000))
        << i;
    port.GetConnections(0)->Write(block);
    port.Close();
  }
  EXPECT_TRUE(PumpUntil([&] { return received.load() == 20 * block.size(); }, 20000))
      << received.load();
  stop = true;
  device.join();
  EXPECT_TRUE(PumpUntil(
      [&] { return HandleCount() <= fdsBefore && ThreadCount() <= threadsBefore; }, 10000))
      << "fds " << HandleCount() << " (was " << fdsBefore << "), threads " << ThreadCount()
      << " (was " << threadsBefore << ")";
}

}  // namespace
}  // namespace quorlink::testing
