// Which thread is the main thread, and what happens off it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "quorlink/core/Application.h"

namespace quorlink {
namespace {

// Runs in a fresh process, so no thread has used the loop before it.
void FirstUserBecomesMainThread() {
  bool workerIsMain = false;
  std::thread worker([&] {
    Application().ProcessMessages();
    workerIsMain = Application().IsMainThread();
  });
  worker.join();
  if (!workerIsMain || Application().IsMainThread()) std::_Exit(1);
#ifndef NDEBUG
  Application().ProcessMessages();  // off the main thread: aborts
  std::_Exit(2);
#else
  std::_Exit(0);
#endif
}

TEST(MainThread, IsTheFirstThreadToUseTheLoop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifndef NDEBUG
  EXPECT_DEATH(FirstUserBecomesMainThread(),
               "Application\\(\\)\\.ProcessMessages called from a thread other than the main");
#else
  EXPECT_EXIT(FirstUserBecomesMainThread(), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace quorlink
