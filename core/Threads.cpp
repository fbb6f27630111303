#include "core/Threads.h"

#include <condition_variable>

#include "core/Application.h"

namespace quorlink {

namespace {
// A worker's Synchronize never makes it the main thread.
thread_local bool onWorkerThread = false;
}  // namespace

TThread::TThread() = default;

TThread::~TThread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void TThread::Start() {
  ClaimMainThread();  // workers are started from the main thread
  std::lock_guard lock(startMutex_);
  thread_ = std::thread([this] { Run(); });
}

void TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::Run() {
  // Wait until Start has stored the thread object.
  { std::lock_guard lock(startMutex_); }
  onWorkerThread = true;
  try {
    Execute();
  } catch (...) {
    // An exception that leaves Execute ends the thread and reaches nobody.
  }
  if (freeOnTerminate_.load()) {
    thread_.detach();
    delete this;
  }
}

namespace {

// One call waiting for the main thread.
struct SyncCall {
  const std::function<void()>* method;
  std::exception_ptr error;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

constexpr UINT kSyncMessage = WM_USER + 0x7F00;

void RunSyncCall(TMessage& message) {
  auto* call = reinterpret_cast<SyncCall*>(message.LParam);
  try {
    (*call->method)();
  } catch (...) {
    call->error = std::current_exception();
  }
  // Notify under the lock: the waiter destroys the record as soon as it sees
  // finished, so the condition variable must not be touched after unlocking.
  std::lock_guard lock(call->mutex);
  call->finished = true;
  call->done.notify_one();
}

HWND SyncWindow() {
  // Made on first use (window allocation is thread-safe), then kept.
  static HWND window = AllocateHWnd(RunSyncCall);
  return window;
}

}  // namespace

void TThread::Synchronize(const std::function<void()>& method) {
  if (onWorkerThread ? Application().IsMainThread() : ClaimMainThread()) {
    method();
    return;
  }
  SyncCall call;
  call.method = &method;
  if (!PostMessage(SyncWindow(), kSyncMessage, 0, reinterpret_cast<LPARAM>(&call)))
    throw Exception("Synchronize: the main thread's message window is gone");
  std::unique_lock lock(call.mutex);
  call.done.wait(lock, [&] { return call.finished; });
  if (call.error) std::rethrow_exception(call.error);
}

}  // namespace quorlink
