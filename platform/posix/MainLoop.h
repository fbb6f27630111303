// The POSIX message loop: a window table, a thread-safe message queue and an
// epoll set that also watches the descriptors of the socket backends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "quorlink/platform/Messages.h"

namespace quorlink::platform::posix {

class MainLoop final : public IMessageLoop {
 public:
  using FdCallback = std::function<void(std::uint32_t epollEvents)>;

  MainLoop();
  ~MainLoop() override;
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  HWND AllocateWindow(TWndMethod proc) override;
  void DeallocateWindow(HWND window) override;
  BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool ProcessMessage(DWORD timeoutMs) override;
  void Wake() override;
  int Descriptor() override { return epollFd_; }

  // Main thread only. The callback runs on the main thread inside
  // ProcessMessage while the descriptor is ready for the given epoll events
  // (level-triggered, or once per Modify with EPOLLONESHOT); it must
  // tolerate a spurious call. Modify keeps the registration and callback.
  bool Watch(int fd, std::uint32_t events, FdCallback callback);
  bool Modify(int fd, std::uint32_t events);
  void Unwatch(int fd);
  std::size_t WindowCount() const;

 private:
  struct Posted {
    HWND window;
    TMessage message;
  };
  struct Watcher {
    std::uint32_t generation;
    FdCallback callback;
  };

  // A ring of posted messages: steady traffic allocates nothing.
  class Queue {
   public:
    bool Empty() const { return count_ == 0; }
    void Push(const Posted& posted);
    Posted Pop();

   private:
    std::vector<Posted> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
  };

  bool DispatchOne();
  void PollOnce(int timeoutMs);
  void SignalLocked();
  void SignalLeftovers();

  int epollFd_ = -1;
  int wakeFd_ = -1;
  mutable std::mutex mutex_;  // guards windows_, queue_, nextWindow_, woken_, signalled_
  std::unordered_map<std::uintptr_t, std::shared_ptr<TWndMethod>> windows_;
  Queue queue_;
  std::uintptr_t nextWindow_ = 0x10000;
  bool woken_ = false;
  // The eventfd has been written since the loop last saw its event, so the
  // epoll descriptor is readable: one write serves every message posted
  // until then. The loop's own posts inside ProcessMessage do not write it
  // (that thread looks at the queue before it sleeps); what they leave
  // queued is signalled when ProcessMessage returns.
  bool signalled_ = false;
  // Main thread only.
  std::unordered_map<int, std::shared_ptr<Watcher>> watchers_;
  // Messages dispatched since the descriptors were last asked.
  unsigned sincePoll_ = 0;
  std::uint32_t nextGeneration_ = 1;
};

MainLoop& PosixMainLoop();

}  // namespace quorlink::platform::posix
