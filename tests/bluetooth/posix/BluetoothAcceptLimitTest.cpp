// A server that cannot accept (no descriptor left) neither spins nor builds
// a connection from the failed accept; it says so once and accepts again
// when a descriptor frees.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "bluetooth/BluetoothTransportFixture.h"

namespace quorlink::testing {
namespace {

// The sanitizers' runtime opens descriptors of its own while it checks
// (a pipe to probe memory), which a process without any cannot do.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

using BluetoothAcceptLimit = BluetoothFixture;

// Lowers the process's descriptor limit to the descriptors open now, for
// the life of the object.
class ScopedNoFreeDescriptor {
 public:
  ScopedNoFreeDescriptor() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    const int lowestFree = dup(0);
    close(lowestFree);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    ok_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~ScopedNoFreeDescriptor() { setrlimit(RLIMIT_NOFILE, &saved_); }
  ScopedNoFreeDescriptor(const ScopedNoFreeDescriptor&) = delete;
  ScopedNoFreeDescriptor& operator=(const ScopedNoFreeDescriptor&) = delete;
  bool Ok() const { return ok_; }

 private:
  rlimit saved_{};
  bool ok_ = false;
};

TEST_F(BluetoothAcceptLimit, OutOfDescriptorsPausesAcceptingAndReportsOnce) {
  if (kSanitized) GTEST_SKIP() << "the sanitizer runtime needs free descriptors";
  Listen();
  // Two peers are queued at the listener before the limit is reached.
  StartConnect();
  Owned<TQuorBluetooth> second = ConnectSecondClient();
  plan.ClearCalls();
  constexpr int kTurns = 400;
  {
    ScopedNoFreeDescriptor limit;
    ASSERT_TRUE(limit.Ok());
    for (int i = 0; i < kTurns; ++i) platform::Messages().ProcessMessage(0);
  }
  // One accept, and a few more at most if the pause ran out meanwhile; a
  // server that re-arms at once tries on every turn.
  EXPECT_GE(plan.Count("accept"), 1);
  EXPECT_LT(plan.Count("accept"), kTurns / 10);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "EOSError:" + std::to_string(WSAEMFILE));
  EXPECT_EQ(server->ConnectionCount(), 0);
  EXPECT_EQ(serverLog.Count("connect"), 0);
  EXPECT_TRUE(server->IsActive());

  // With descriptors free again, both waiting peers are accepted.
  ASSERT_TRUE(PumpUntil([&] { return server->ConnectionCount() == 2; }));
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(serverLog.Count("connect"), 2);
}

// The same through the decorator, for a failure of any kind: a released
// link of the server resumes accepting at once, and meeting the failure
// again right after is not told again.
TEST_F(BluetoothAcceptLimit, AnyAcceptFailureMakesNoConnectionAndIsReportedOnce) {
  Link();
  plan.FailCall("accept", WSAENOBUFS, 0);
  Owned<TQuorBluetooth> second = ConnectSecondClient();
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  PumpFor(std::chrono::milliseconds(500));  // pauses run out, accepts fail again
  const std::vector<std::string> once{"EOSError:" + std::to_string(WSAENOBUFS)};
  EXPECT_EQ(errors, once);
  EXPECT_EQ(server->ConnectionCount(), 1);
  plan.Clear();
  client->Close();  // releases a link of the server
  ASSERT_TRUE(
      PumpUntil([&] { return server->ConnectionCount() == 1 && serverLog.Count("connect") == 2; }));
  plan.FailCall("accept", WSAENOBUFS, 0);
  const int before = plan.Count("accept");
  StartConnect();
  ASSERT_TRUE(PumpUntil([&] { return plan.Count("accept") > before; }));
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(errors, once);
  EXPECT_EQ(server->ConnectionCount(), 1);
}

}  // namespace
}  // namespace quorlink::testing
