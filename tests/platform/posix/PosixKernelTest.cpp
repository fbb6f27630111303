// Kernel objects and the epoll main loop of the POSIX backend.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <thread>

#include "platform/Kernel.h"
#include "platform/posix/MainLoop.h"

namespace quorlink::platform {
namespace {

TEST(PosixKernel, AHandleClosesOnceAndIsNeverReused) {
  IKernel& k = Kernel();
  HANDLE a = k.CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(k.CloseHandle(a), TRUE);
  EXPECT_EQ(k.CloseHandle(a), FALSE);
  EXPECT_EQ(k.GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE b = k.CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(k.WaitForSingleObject(a, 0), WAIT_FAILED);
  k.CloseHandle(b);
}

TEST(PosixKernel, ManualAndAutoResetEvents) {
  IKernel& k = Kernel();
  HANDLE manual = k.CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE automatic = k.CreateEventA(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(k.WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  k.SetEvent(manual);
  EXPECT_EQ(k.WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(k.WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // stays set
  k.ResetEvent(manual);
  EXPECT_EQ(k.WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_EQ(k.WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(k.WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);  // the wait reset it
  std::thread setter([&] { k.SetEvent(manual); });
  EXPECT_EQ(k.WaitForSingleObject(manual, 10000), WAIT_OBJECT_0);
  setter.join();
  k.CloseHandle(manual);
  k.CloseHandle(automatic);
  EXPECT_EQ(k.CreateEventA(nullptr, TRUE, FALSE, "named"), nullptr);
}

TEST(PosixKernel, FormatMessageWritesTheSystemText) {
  char buf[128];
  DWORD n = Kernel().FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_IO_PENDING, 0, buf,
                                    sizeof buf, nullptr);
  EXPECT_EQ(std::string(buf, n), "Overlapped I/O operation is in progress.\r\n");
  WCHAR wide[128];
  n = Kernel().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr,
                              ERROR_ACCESS_DENIED, 0, wide, 128, nullptr);
  EXPECT_EQ(std::u16string(wide, n), u"Access is denied. ");
  EXPECT_EQ(Kernel().FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xDEAD, 0, buf, sizeof buf,
                                    nullptr),
            0u);
  EXPECT_EQ(Kernel().FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_IO_PENDING, 0, buf,
                                    8, nullptr),
            0u);
  EXPECT_EQ(Kernel().GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(PosixMainLoop, WatchedDescriptorsCallBackOnTheLoopAndStaleEventsAreDropped) {
  auto& loop = posix::PosixMainLoop();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int calls = 0;
  loop.Watch(fds[0], EPOLLIN, [&](std::uint32_t) {
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    ++calls;
  });
  ASSERT_EQ(write(fds[1], "xy", 2), 2);
  loop.ProcessMessage(0);
  loop.ProcessMessage(0);
  EXPECT_EQ(calls, 2);
  loop.Unwatch(fds[0]);
  ASSERT_EQ(write(fds[1], "z", 1), 1);
  loop.ProcessMessage(0);
  EXPECT_EQ(calls, 2);
  close(fds[0]);
  close(fds[1]);
}

bool DescriptorReady(posix::MainLoop& loop) {
  pollfd p{loop.Descriptor(), POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

// What the loop posts to itself from inside ProcessMessage needs no wake-up
// (the loop looks at its queue before it sleeps); what it leaves queued when
// it returns still wakes a program that polls Descriptor().
TEST(PosixMainLoop, SelfPostsWakeNobodyButLeftoversWakeAnOutsidePoller) {
  auto& loop = posix::PosixMainLoop();
  while (loop.ProcessMessage(0)) {
  }
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int handled = 0;
  HWND window = loop.AllocateWindow([&](TMessage& m) {
    ++handled;
    if (m.Msg == 2) loop.PostMessage(reinterpret_cast<HWND>(m.WParam), 3, 0, 0);
  });
  loop.Watch(fds[0], EPOLLIN, [&](std::uint32_t) {
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    loop.PostMessage(window, c == 'a' ? 1 : 2, reinterpret_cast<WPARAM>(window), 0);
  });
  ASSERT_EQ(write(fds[1], "a", 1), 1);
  EXPECT_TRUE(loop.ProcessMessage(0));
  EXPECT_EQ(handled, 1);
  EXPECT_FALSE(DescriptorReady(loop));  // no eventfd write for its own post
  ASSERT_EQ(write(fds[1], "b", 1), 1);
  EXPECT_TRUE(loop.ProcessMessage(0));
  EXPECT_EQ(handled, 2);
  EXPECT_TRUE(DescriptorReady(loop));  // message 3 is still queued
  EXPECT_TRUE(loop.ProcessMessage(0));
  EXPECT_EQ(handled, 3);
  loop.Unwatch(fds[0]);
  loop.DeallocateWindow(window);
  while (loop.ProcessMessage(0)) {
  }
  close(fds[0]);
  close(fds[1]);
}

TEST(PosixMainLoop, WakeEndsAnInfiniteWait) {
  auto& loop = posix::PosixMainLoop();
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    loop.Wake();
  });
  EXPECT_FALSE(loop.ProcessMessage(INFINITE));
  waker.join();
}

}  // namespace
}  // namespace quorlink::platform
