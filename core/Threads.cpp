#include "quorlink/core/Threads.h"

#include <condition_variable>
#include <memory>
#include <utility>

#include "quorlink/core/Application.h"
#include "core/MainThreadWindows.h"

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

// A worker's record for its calls waiting for the main thread, made once per
// worker. The main thread holds a reference while it signals, so it may
// notify after unlocking (the woken worker then does not block on the
// mutex) even if the worker has ended meanwhile.
struct SyncCall : std::enable_shared_from_this<SyncCall> {
  const std::function<void()>* method = nullptr;
  std::exception_ptr error;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

SyncCall& ThisThreadsCall() {
  thread_local auto call = std::make_shared<SyncCall>();
  return *call;
}

constexpr UINT kSyncMessage = WM_USER + 0x7F00;

void RunSyncCall(TMessage& message) {
  const auto call = reinterpret_cast<SyncCall*>(message.LParam)->shared_from_this();
  try {
    (*call->method)();
  } catch (...) {
    call->error = std::current_exception();
  }
  {
    std::lock_guard lock(call->mutex);
    call->finished = true;
  }
  call->done.notify_one();
}

// Made by the main thread when it becomes the main thread, then kept: a
// worker that made it would own it, and on Windows nobody would pump it.
std::atomic<HWND> syncWindow{nullptr};

}  // namespace

void MakeMainThreadWindows() {
  syncWindow.store(AllocateHWnd(RunSyncCall));
}

void TThread::Synchronize(const std::function<void()>& method) {
  if (onWorkerThread ? Application().IsMainThread() : ClaimMainThread()) {
    method();
    return;
  }
  SyncCall& call = ThisThreadsCall();
  {
    std::lock_guard lock(call.mutex);
    call.method = &method;
    call.error = nullptr;
    call.finished = false;
  }
  if (!quorlink::PostMessage(syncWindow.load(), kSyncMessage, 0, reinterpret_cast<LPARAM>(&call)))
    throw Exception("Synchronize: the main thread's message window is gone");
  std::unique_lock lock(call.mutex);
  call.done.wait(lock, [&] { return call.finished; });
  if (auto error = std::exchange(call.error, nullptr)) std::rethrow_exception(error);
}

}  // namespace quorlink
