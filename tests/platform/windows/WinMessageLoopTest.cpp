// The Windows message loop: real message-only windows, the waitable handle a
// program drives it by, and messages that Windows itself posts.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "quorlink/core/Application.h"
#include "platform/Kernel.h"
#include "quorlink/platform/Messages.h"

namespace quorlink::platform {
namespace {

TEST(WinMessageLoop, WindowsAreMessageOnlyAndOwnedByTheCaller) {
  IMessageLoop& loop = OsMessages();
  HWND w = loop.AllocateWindow([](TMessage&) {});
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(::IsWindow(w));
  EXPECT_EQ(::GetWindowThreadProcessId(w, nullptr), ::GetCurrentThreadId());
  // Among the message-only windows of its class (other test programs may
  // have theirs on the same desktop).
  HWND found = nullptr;
  while ((found = ::FindWindowExA(HWND_MESSAGE, found, "QuorlinkMessageWindow", nullptr)) !=
             nullptr &&
         found != w) {
  }
  EXPECT_EQ(found, w);
  loop.DeallocateWindow(w);
  EXPECT_FALSE(::IsWindow(w));
}

// A program that waits on the handle must see every message a worker posts,
// including one posted by Windows itself (as WSAAsyncSelect does), and must
// not see the handle set for ever once the queue is empty.
TEST(WinMessageLoopThreaded, TheHandleSignalsPostsFromOtherThreads) {
  IMessageLoop& loop = OsMessages();
  std::atomic<int> handled{0};
  HWND w = loop.AllocateWindow([&](TMessage& m) {
    if (m.Msg == WM_USER + 1) handled.fetch_add(static_cast<int>(m.WParam));
  });
  while (loop.ProcessMessage(0)) {
  }
  const HANDLE ready = loop.Descriptor();
  EXPECT_EQ(::WaitForSingleObject(ready, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  std::thread worker([&] { loop.PostMessage(w, WM_USER + 1, 1, 0); });
  worker.join();
  EXPECT_EQ(::WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
  while (loop.ProcessMessage(0)) {
  }
  EXPECT_EQ(handled.load(), 1);
  EXPECT_EQ(::WaitForSingleObject(ready, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  // Posted behind the library's back: MsgWaitForMultipleObjects wakes.
  std::thread system([&] { ::PostMessageA(w, WM_USER + 1, 10, 0); });
  system.join();
  EXPECT_EQ(::MsgWaitForMultipleObjects(1, &ready, FALSE, 5000, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  EXPECT_TRUE(loop.ProcessMessage(INFINITE));
  EXPECT_EQ(handled.load(), 11);
  loop.DeallocateWindow(w);
}

// Two messages queued, one handled: the handle stays set for the second.
TEST(WinMessageLoop, TheHandleStaysSetWhileMessagesRemain) {
  IMessageLoop& loop = OsMessages();
  int handled = 0;
  HWND w = loop.AllocateWindow([&](TMessage&) { ++handled; });
  ASSERT_TRUE(loop.PostMessage(w, WM_USER, 0, 0));
  ASSERT_TRUE(loop.PostMessage(w, WM_USER, 0, 0));
  EXPECT_TRUE(loop.ProcessMessage(0));
  EXPECT_EQ(::WaitForSingleObject(loop.Descriptor(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(loop.ProcessMessage(0));
  EXPECT_EQ(handled, 2);
  loop.DeallocateWindow(w);
}

TEST(WinMessageLoopThreaded, WakeEndsAnEndlessWaitWithoutAMessage) {
  IMessageLoop& loop = OsMessages();
  std::thread waker([&] {
    ::Sleep(50);
    loop.Wake();
  });
  EXPECT_FALSE(loop.ProcessMessage(INFINITE));
  waker.join();
}

TEST(WinMessageLoop, NothingReachesAReleasedWindow) {
  IMessageLoop& loop = OsMessages();
  int handled = 0;
  HWND w = loop.AllocateWindow([&](TMessage&) { ++handled; });
  ASSERT_TRUE(loop.PostMessage(w, WM_USER, 0, 0));
  loop.DeallocateWindow(w);
  EXPECT_FALSE(loop.PostMessage(w, WM_USER, 0, 0));
  while (loop.ProcessMessage(0)) {
  }
  EXPECT_EQ(handled, 0);
}

// What Windows sends a window of its own accord (below WM_USER) is not the
// library's: the method never sees it.
TEST(WinMessageLoop, OnlyPostedRangeReachesTheMethod) {
  IMessageLoop& loop = OsMessages();
  std::vector<UINT> seen;
  HWND w = loop.AllocateWindow([&](TMessage& m) { seen.push_back(m.Msg); });
  ::SendMessageA(w, WM_NULL, 0, 0);
  ASSERT_TRUE(loop.PostMessage(w, WM_USER + 5, 0, 0));
  while (loop.ProcessMessage(0)) {
  }
  EXPECT_EQ(seen, std::vector<UINT>{WM_USER + 5});
  loop.DeallocateWindow(w);
}

// The system's texts are Windows' own (Wine's differ from Windows' in places).
TEST(WinKernel, FormatMessageGivesTheSystemsText) {
  char mine[512] = {}, system[512] = {};
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  ASSERT_GT(
      Kernel().FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, mine, sizeof mine, nullptr),
      0u);
  ::FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, system, sizeof system, nullptr);
  EXPECT_STREQ(mine, system);
}

}  // namespace
}  // namespace quorlink::platform
