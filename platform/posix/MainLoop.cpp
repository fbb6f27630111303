#include "platform/posix/MainLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace quorlink::platform::posix {

namespace {
constexpr std::uint64_t kWakeTag = ~std::uint64_t{0};
constexpr unsigned kDispatchesPerPoll = 8;

std::uint64_t Tag(std::uint32_t generation, int fd) {
  return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(fd);
}

// The loop that this thread is running ProcessMessage of, if any.
thread_local const MainLoop* tRunning = nullptr;
}  // namespace

void MainLoop::Queue::Push(const Posted& posted) {
  if (count_ == ring_.size()) {
    std::vector<Posted> grown(ring_.empty() ? 16 : ring_.size() * 2);
    for (std::size_t i = 0; i < count_; ++i) grown[i] = ring_[(head_ + i) % ring_.size()];
    ring_ = std::move(grown);
    head_ = 0;
  }
  ring_[(head_ + count_) % ring_.size()] = posted;
  ++count_;
}

MainLoop::Posted MainLoop::Queue::Pop() {
  Posted posted = ring_[head_];
  head_ = (head_ + 1) % ring_.size();
  --count_;
  return posted;
}

MainLoop::MainLoop() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epollFd_ < 0 || wakeFd_ < 0) {
    if (epollFd_ >= 0) close(epollFd_);
    if (wakeFd_ >= 0) close(wakeFd_);
    throw std::runtime_error("cannot create the message loop");
  }
  epoll_event ev{};
  // Edge-triggered: each write is one event, and the count is never read.
  ev.events = EPOLLIN | EPOLLET;
  ev.data.u64 = kWakeTag;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
}

MainLoop::~MainLoop() {
  close(wakeFd_);
  close(epollFd_);
}

HWND MainLoop::AllocateWindow(TWndMethod proc) {
  std::lock_guard lock(mutex_);
  std::uintptr_t id = nextWindow_++;
  windows_.emplace(id, std::make_shared<TWndMethod>(std::move(proc)));
  return reinterpret_cast<HWND>(id);
}

void MainLoop::DeallocateWindow(HWND window) {
  std::shared_ptr<TWndMethod> proc;  // released outside the lock
  std::lock_guard lock(mutex_);
  auto it = windows_.find(reinterpret_cast<std::uintptr_t>(window));
  if (it == windows_.end()) return;
  proc = std::move(it->second);
  windows_.erase(it);
}

std::size_t MainLoop::WindowCount() const {
  std::lock_guard lock(mutex_);
  return windows_.size();
}

BOOL MainLoop::PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  const bool ownLoop = tRunning == this;
  std::lock_guard lock(mutex_);
  if (windows_.find(reinterpret_cast<std::uintptr_t>(window)) == windows_.end()) return FALSE;
  queue_.Push({window, TMessage{msg, wParam, lParam, 0}});
  if (!ownLoop) SignalLocked();
  return TRUE;
}

void MainLoop::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  SignalLocked();
}

void MainLoop::SignalLocked() {
  if (signalled_) return;
  signalled_ = true;
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
}

void MainLoop::SignalLeftovers() {
  // A program that drives the loop from its own poll of Descriptor() must
  // see what is still queued when ProcessMessage returns.
  std::lock_guard lock(mutex_);
  if (!queue_.Empty()) SignalLocked();
}

bool MainLoop::DispatchOne() {
  Posted posted;
  std::shared_ptr<TWndMethod> proc;
  {
    std::lock_guard lock(mutex_);
    while (!queue_.Empty()) {
      posted = queue_.Pop();
      auto it = windows_.find(reinterpret_cast<std::uintptr_t>(posted.window));
      if (it != windows_.end()) {
        proc = it->second;
        break;
      }
      // The window was released after the message was posted: drop it.
    }
  }
  if (!proc) return false;
  try {
    (*proc)(posted.message);
  } catch (...) {
    // Window procedures stop their own exceptions; nothing may unwind the loop.
  }
  return true;
}

void MainLoop::PollOnce(int timeoutMs) {
  epoll_event events[32];
  int n = epoll_wait(epollFd_, events, 32, timeoutMs);
  sincePoll_ = 0;
  if (n < 0) return;  // EINTR: the caller loops
  for (int i = 0; i < n; ++i) {
    std::uint64_t tag = events[i].data.u64;
    if (tag == kWakeTag) {
      // Whatever the wake-up announced is looked at after this poll.
      std::lock_guard lock(mutex_);
      signalled_ = false;
      continue;
    }
    int fd = static_cast<int>(tag & 0xFFFFFFFFu);
    auto it = watchers_.find(fd);
    // A stale event for a descriptor unwatched (or re-watched) meanwhile.
    if (it == watchers_.end() || it->second->generation != (tag >> 32)) continue;
    auto watcher = it->second;
    watcher->callback(events[i].events);
  }
}

bool MainLoop::ProcessMessage(DWORD timeoutMs) {
  struct Running {
    MainLoop* loop;
    const MainLoop* outer = tRunning;
    explicit Running(MainLoop* l) : loop(l) { tRunning = l; }
    ~Running() {
      tRunning = outer;
      if (outer != loop) loop->SignalLeftovers();
    }
  } running(this);
  using Clock = std::chrono::steady_clock;
  const bool forever = timeoutMs == INFINITE;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  // While messages keep coming (a stream posts its own next read) the
  // descriptors are still asked every few messages, so that other links get
  // their turn without a system call for each message.
  bool polled = sincePoll_ >= kDispatchesPerPoll;
  if (polled) PollOnce(0);
  for (;;) {
    if (DispatchOne()) {
      ++sincePoll_;
      return true;
    }
    {
      std::lock_guard lock(mutex_);
      if (woken_) {
        woken_ = false;
        return false;
      }
    }
    int wait = -1;
    if (!forever) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 && polled) return false;
      wait = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
    }
    PollOnce(wait);
    polled = true;
  }
}

bool MainLoop::Watch(int fd, std::uint32_t events, FdCallback callback) {
  Unwatch(fd);
  auto watcher = std::make_shared<Watcher>(Watcher{nextGeneration_++, std::move(callback)});
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(watcher->generation, fd);
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  watchers_[fd] = std::move(watcher);
  return true;
}

bool MainLoop::Modify(int fd, std::uint32_t events) {
  auto it = watchers_.find(fd);
  if (it == watchers_.end()) return false;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(it->second->generation, fd);
  return epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev) == 0;
}

void MainLoop::Unwatch(int fd) {
  auto it = watchers_.find(fd);
  if (it == watchers_.end()) return;
  epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  watchers_.erase(it);
}

MainLoop& PosixMainLoop() {
  static MainLoop* loop = new MainLoop;  // lives as long as the process
  return *loop;
}

}  // namespace quorlink::platform::posix

namespace quorlink::platform {
IMessageLoop& OsMessages() {
  return posix::PosixMainLoop();
}
}  // namespace quorlink::platform
