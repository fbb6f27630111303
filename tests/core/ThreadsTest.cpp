// Worker threads, Synchronize and the main loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "OsTestSupport.h"
#include "quorlink/core/Application.h"
#include "quorlink/core/Threads.h"

namespace quorlink {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the main loop until done() or the deadline; false on the deadline.
template <class F>
bool PumpUntil(F done, std::chrono::seconds limit = std::chrono::seconds(30)) {
  CheckMainThread("PumpUntil");  // this thread runs the loop
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    platform::Messages().ProcessMessage(20);
  }
  return true;
}

class SyncWorker final : public TThread {
 public:
  SyncWorker(int id, int calls, std::vector<std::pair<int, int>>& log, std::atomic<int>& offMain)
      : id_(id), calls_(calls), log_(log), offMain_(offMain) {
    Start();
  }

 protected:
  void Execute() override {
    for (int i = 0; i < calls_; ++i) {
      Synchronize([this, i] {
        if (!Application().IsMainThread()) offMain_.fetch_add(1);
        log_.emplace_back(id_, i);  // main thread only: no lock
      });
    }
  }

 private:
  int id_, calls_;
  std::vector<std::pair<int, int>>& log_;
  std::atomic<int>& offMain_;
};

// Records the thread that makes each hidden window; the rest is the OS loop's.
class WindowMakers final : public platform::IMessageLoop {
 public:
  HWND AllocateWindow(TWndMethod proc) override {
    {
      std::lock_guard lock(mutex);
      makers.push_back(std::this_thread::get_id());
    }
    return os.AllocateWindow(std::move(proc));
  }
  void DeallocateWindow(HWND window) override { os.DeallocateWindow(window); }
  BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) override {
    return os.PostMessage(window, msg, wParam, lParam);
  }
  bool ProcessMessage(DWORD timeoutMs) override { return os.ProcessMessage(timeoutMs); }
  void Wake() override { os.Wake(); }
  TPollHandle Descriptor() override { return os.Descriptor(); }

  platform::IMessageLoop& os = platform::OsMessages();
  std::mutex mutex;
  std::vector<std::thread::id> makers;
};

// On Windows a window's messages reach only the thread that made it: a
// Synchronize window made by the first worker to call was never pumped, and
// Synchronize hung.
TEST(SynchronizeThreaded, ItsWindowIsMadeByTheMainThreadNotTheFirstWorker) {
  WindowMakers loop;
  platform::ScopedMessages scope(loop);
  CheckMainThread("test");  // this thread becomes the main thread
  std::atomic<bool> ran{false};
  std::thread worker([&] { TThread::Synchronize([&] { ran.store(true); }); });
  const bool done = PumpUntil([&] { return ran.load(); });
  worker.join();
  EXPECT_TRUE(done);
  std::lock_guard lock(loop.mutex);
  for (const auto& maker : loop.makers) EXPECT_EQ(maker, std::this_thread::get_id());
}

TEST(SynchronizeThreaded, EightThreadsRunEveryCallOnceInOrderOnTheMainThread) {
  constexpr int kThreads = 8, kCalls = 10000 / testing::kStressScale;
  std::vector<std::pair<int, int>> log;
  log.reserve(kThreads * kCalls);
  std::atomic<int> offMain{0};
  std::vector<std::unique_ptr<SyncWorker>> workers;
  for (int i = 0; i < kThreads; ++i)
    workers.push_back(std::make_unique<SyncWorker>(i, kCalls, log, offMain));
  ASSERT_TRUE(PumpUntil([&] { return log.size() == std::size_t{kThreads * kCalls}; },
                        std::chrono::seconds(100)));
  for (auto& w : workers) w->WaitFor();
  EXPECT_EQ(offMain.load(), 0);
  std::vector<int> next(kThreads, 0);
  for (auto [id, seq] : log) {
    ASSERT_EQ(seq, next[static_cast<std::size_t>(id)]) << "thread " << id;
    ++next[static_cast<std::size_t>(id)];
  }
  for (int n : next) EXPECT_EQ(n, kCalls);
}

class RaisingWorker final : public TThread {
 public:
  explicit RaisingWorker(std::string& caught) : caught_(caught) { Start(); }

 protected:
  void Execute() override {
    try {
      Synchronize([] { throw Exception("raised on the main thread"); });
    } catch (const Exception& e) {
      caught_ = e.Message();
    }
  }

 private:
  std::string& caught_;
};

TEST(SynchronizeThreaded, WhatTheMethodRaisesReachesTheThread) {
  std::string caught;
  RaisingWorker w(caught);
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    w.WaitFor();
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  waiter.join();
  EXPECT_EQ(caught, "raised on the main thread");
}

TEST(Synchronize, RunsDirectlyOnTheMainThread) {
  bool ran = false;
  TThread::Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

class SelfFreeing final : public TThread {
 public:
  explicit SelfFreeing(std::atomic<int>& destroyed) : destroyed_(destroyed) {
    SetFreeOnTerminate(true);
    Start();
  }
  ~SelfFreeing() override { destroyed_.fetch_add(1); }

 protected:
  void Execute() override {
    while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    throw Exception("an exception that leaves Execute reaches nobody");
  }

 private:
  std::atomic<int>& destroyed_;
};

TEST(ThreadLifecycleThreaded, FreeOnTerminateDestroysTheObjectWhenExecuteEnds) {
  std::atomic<int> destroyed{0};
  auto* t = new SelfFreeing(destroyed);
  t->Terminate();
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (destroyed.load() == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(ApplicationLoop, HandleIsReadableWhileMessagesWait) {
  HWND w = AllocateHWnd([](TMessage&) {});
  Application().ProcessMessages();
  ASSERT_TRUE(quorlink::PostMessage(w, WM_USER, 0, 0));
  EXPECT_TRUE(testing::WaitReady(Application().Handle(), 1000));
  Application().ProcessMessages();
  DeallocateHWnd(w);
}

TEST(ApplicationLoop, RunReturnsAfterTerminate) {
  int handled = 0;
  HWND w = AllocateHWnd([&](TMessage& m) {
    ++handled;
    if (m.WParam == 3) Application().Terminate();
  });
  for (WPARAM i = 1; i <= 5; ++i) quorlink::PostMessage(w, WM_USER, i, 0);
  Application().Run();
  EXPECT_EQ(handled, 3);
  EXPECT_TRUE(Application().Terminated());
  Application().Reset();
  Application().ProcessMessages();
  EXPECT_EQ(handled, 5);
  DeallocateHWnd(w);
}

TEST(ApplicationLoop, MessagesArriveInTheOrderPosted) {
  std::vector<WPARAM> seen;
  HWND w = AllocateHWnd([&](TMessage& m) { seen.push_back(m.WParam); });
  for (WPARAM i = 0; i < 100; ++i) quorlink::PostMessage(w, WM_USER, i, 0);
  Application().ProcessMessages();
  ASSERT_EQ(seen.size(), 100u);
  for (WPARAM i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
  DeallocateHWnd(w);
}

}  // namespace
}  // namespace quorlink
