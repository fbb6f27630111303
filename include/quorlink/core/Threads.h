/// @file
/// Worker threads with main-thread synchronisation.
///
/// Thread rules: the constructor, Start and FreeOnTerminate belong to the
/// creating thread; Terminate and Terminated may be called from any thread;
/// Synchronize is called from the worker and runs its method on the main
/// thread, returning after it has run.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"

namespace quorlink {

/// A worker thread: a subclass implements Execute and calls Start; the
/// worker reaches the main thread through Synchronize.
class QUORLINK_API TThread : public TObject {
 public:
  /// A thread object that has not started.
  TThread();
  /// Joins a running thread unless it frees itself.
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  /// Starts Execute on the new thread. Subclasses call it as the last step of
  /// their constructor, so the thread starts once construction is complete.
  void Start();
  /// Only sets the stop flag that Execute reads.
  void Terminate() { terminated_.store(true, std::memory_order_release); }
  /// True once Terminate was called.
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  /// Waits for Execute to end (not for a thread that frees itself).
  void WaitFor();

  /// Runs method on the main thread and returns after it has run; directly
  /// when called on the main thread. What the method raises is raised here.
  static void Synchronize(const std::function<void()>& method);

 protected:
  /// The thread's work; it should return soon after Terminated turns true.
  virtual void Execute() = 0;
  /// When set, the object destroys itself after Execute ends.
  void SetFreeOnTerminate(bool value) { freeOnTerminate_.store(value); }

 private:
  void Run();

  std::atomic<bool> terminated_{false};
  std::atomic<bool> freeOnTerminate_{false};
  std::mutex startMutex_;  ///< held by Start until thread_ is assigned
  std::thread thread_;
};

}  // namespace quorlink
