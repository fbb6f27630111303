// Every failing platform call of the open, write and read paths, made to
// fail through the decorators: the exact message, every handle closed
// exactly once, the transport's state, and no stray events.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "comport/ComPortTestSupport.h"
#include "support/FaultySerial.h"

namespace quorlink::testing {
namespace {

using namespace comport;

struct FaultRig {
  FaultPlan plan;
  FaultyKernel kernel{plan};
  FaultySerial serial{plan, &kernel};
  platform::ScopedKernel scopedKernel{kernel};
  platform::ScopedSerial scopedSerial{serial};
  ThreadBaseline threads;

  // Self-freeing threads end on their own; wait (bounded) for them before
  // the decorators they call go away.
  bool ThreadsBack() {
    const bool back = threads.Back();
    // Taking the decorators' locks orders the ended threads' last calls
    // before what the test does next (a thread's end seen through /proc
    // orders nothing).
    plan.Count("");
    kernel.Closes();
    SyncWithBackend();  // what the last close took
    return back;
  }
};

struct OpenFault {
  const char* call;
  int nth;
  int handlesOpened;  // before the failure
};

class ComPortOpenFault : public ::testing::TestWithParam<OpenFault> {};

TEST_P(ComPortOpenFault, FailsCleanly) {
  const OpenFault f = GetParam();
  CablePort p;
  FaultRig rig;
  rig.plan.FailCall(f.call, ERROR_GEN_FAILURE, f.nth);
  try {
    p.port.Connect();
    ADD_FAILURE() << f.call;
  } catch (const EQuorTransportException& e) {
    EXPECT_STREQ(e.what(), "Can not open connection.");
    // The system's reason reaches the caller, whichever step failed.
    EXPECT_EQ(e.GetErrorCode(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(e.GetKind(), f.call == std::string("SetCommState") ? ekSettingsRefused : ekOther);
  }
  EXPECT_FALSE(p.port.IsActive());
  EXPECT_EQ(p.port.ConnectionCount(), 0);
  EXPECT_TRUE(p.log.events.empty());
  ASSERT_TRUE(rig.ThreadsBack());
  EXPECT_EQ(static_cast<int>(rig.kernel.Closes().size()), f.handlesOpened);
  EXPECT_TRUE(rig.kernel.EveryHandleClosedOnce());
  // Nothing was left holding the device.
  rig.plan.Clear();
  p.port.Connect();
  EXPECT_TRUE(p.port.IsActive());
  p.port.Close();
  ASSERT_TRUE(rig.ThreadsBack());
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, ComPortOpenFault,
    ::testing::Values(OpenFault{"CreateFileA", 1, 0}, OpenFault{"GetCommState", 1, 1},
                      OpenFault{"SetCommState", 1, 1}, OpenFault{"PurgeComm", 1, 1},
                      OpenFault{"SetCommMask", 1, 1},
                      OpenFault{"CreateEventA", 1, 1},   // the write event
                      OpenFault{"CreateEventA", 2, 2}),  // the read thread's event
    [](const auto& info) { return std::string(info.param.call) + std::to_string(info.param.nth); });

TEST(ComPortFault, OnConnectThatRaisesClosesEveryHandleOnce) {
  CablePort p;
  FaultRig rig;
  p.port.OnConnect = [](TQuorCustomConnection*) { throw Exception("no"); };
  EXPECT_THROW(p.port.Connect(), Exception);
  ASSERT_TRUE(rig.ThreadsBack());
  EXPECT_EQ(rig.kernel.Closes().size(), 3u);  // port, write event, read event
  EXPECT_TRUE(rig.kernel.EveryHandleClosedOnce());
  EXPECT_TRUE(p.log.events.empty());
}

TEST(ComPortFault, AFailedWriteRaisesAndChangesNothing) {
  CablePort p;
  FaultRig rig;
  p.port.Connect();
  rig.plan.FailCall("WriteFile", ERROR_GEN_FAILURE);
  try {
    p.Connection().Write(Bytes("lost"));
    ADD_FAILURE();
  } catch (const EQuorTransportException& e) {
    EXPECT_STREQ(e.what(), "Can not write data to connection.");
  }
  EXPECT_TRUE(p.port.IsActive());
  EXPECT_EQ(p.log.events, std::vector<std::string>{"connect"});
  p.Connection().Write(Bytes("next"));
  EXPECT_EQ(p.cable.Read(4), Bytes("next"));
  p.port.Close();
  ASSERT_TRUE(rig.ThreadsBack());
  EXPECT_TRUE(rig.kernel.EveryHandleClosedOnce());
}

// A read path that fails for good is a lost link: the program hears why
// (OnError, on the main thread), then the connection closes as the
// application's Close would, once, even when the application closes it at
// the same moment; the port opens again afterwards.
struct ReadFault {
  const char* call;
  bool applicationClosesToo;
};
class ComPortReadFault : public ::testing::TestWithParam<ReadFault> {};

TEST_P(ComPortReadFault, ClosesTheConnectionOnce) {
  const ReadFault f = GetParam();
  CablePort p;
  FaultRig rig;
  constexpr DWORD kGone = 1617;  // ERROR_DEVICE_REMOVED
  rig.plan.FailCall(f.call, kGone);
  p.port.OnError = [&](TObject* sender, const std::exception& e) {
    EXPECT_EQ(sender, &p.Connection());
    EXPECT_TRUE(Application().IsMainThread());
    const auto* failure = dynamic_cast<const EQuorTransportException*>(&e);
    ASSERT_NE(failure, nullptr);
    EXPECT_STREQ(e.what(), "Can not read data from connection.");
    EXPECT_EQ(failure->GetErrorCode(), kGone);
    EXPECT_EQ(failure->GetKind(), ekDeviceGone);
    p.log.events.push_back("error");
  };
  p.port.Connect();
  ASSERT_TRUE(p.cable.Write(Bytes("data")));
  if (f.applicationClosesToo) {
    // The failure is posted before the thread ends; the close comes first.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (rig.plan.Count(f.call) < 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    p.port.Close();
  }
  ASSERT_TRUE(PumpUntil([&] { return !p.port.IsActive(); }));
  ASSERT_TRUE(rig.ThreadsBack());
  PumpFor(20);  // anything still queued for the closed connection
  if (f.applicationClosesToo)
    EXPECT_EQ(p.log.events, (std::vector<std::string>{"connect", "disconnect"}));
  else
    EXPECT_EQ(p.log.events, (std::vector<std::string>{"connect", "error", "disconnect"}));
  EXPECT_EQ(p.log.reads, 0);
  EXPECT_EQ(p.port.ConnectionCount(), 0);
  EXPECT_EQ(p.port.GetLinkError(), f.applicationClosesToo ? 0u : kGone);
  EXPECT_EQ(rig.kernel.Closes().size(), 3u);
  EXPECT_TRUE(rig.kernel.EveryHandleClosedOnce());
  rig.plan.Clear();
  p.port.Connect();
  EXPECT_EQ(p.port.GetLinkError(), 0u);
  p.Connection().Write(Bytes("out"));
  EXPECT_EQ(p.cable.Read(3), Bytes("out"));
  p.port.Close();
  ASSERT_TRUE(rig.ThreadsBack());
}

INSTANTIATE_TEST_SUITE_P(
    EveryCall, ComPortReadFault,
    ::testing::Values(ReadFault{"WaitCommEvent", false}, ReadFault{"ClearCommError", false},
                      ReadFault{"ReadFile", false}, ReadFault{"ReadFile", true}),
    [](const auto& info) {
      return std::string(info.param.call) + (info.param.applicationClosesToo ? "AndClose" : "");
    });

TEST(ComPortFault, OpenCallsComeInOrder) {
  CablePort p;
  FaultRig rig;
  p.port.Connect();
  p.port.Close();
  ASSERT_TRUE(rig.ThreadsBack());
  auto all = rig.plan.Calls();
  ASSERT_GE(all.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 7),
            (std::vector<std::string>{"CreateFileA", "GetCommState", "SetCommState", "PurgeComm",
                                      "SetCommMask", "CreateEventA", "CreateEventA"}));
}

// Disconnect reached again for the same connection closes nothing twice and
// addresses no thread again.
TEST(ComPortFault, ASecondDisconnectDoesNothing) {
  struct Connection : TQuorComPortConnection {
    using TQuorComPortConnection::TQuorComPortConnection;
    void DisconnectNow() { Disconnect(); }
  };
  CablePort p;
  FaultRig rig;
  auto* c = new Connection(&p.port);
  c->DisconnectNow();
  c->DisconnectNow();
  Free(c);  // runs Disconnect once more
  ASSERT_TRUE(rig.ThreadsBack());
  EXPECT_EQ(rig.kernel.Closes().size(), 3u);
  EXPECT_TRUE(rig.kernel.EveryHandleClosedOnce());
  EXPECT_EQ(rig.plan.Count("CloseHandle"), 3);
}

}  // namespace
}  // namespace quorlink::testing
