// Handles are reference-counted table entries: a call in progress holds its
// object alive, so a handle closed on another thread can never reach a file
// descriptor that the system has reused. Handle values are never reused.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "quorlink/platform/Types.h"

namespace quorlink::platform::posix {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Called once when the last handle to the object is closed (with no table
  // lock held); ends whatever waits on the object.
  virtual void OnClose() {}
  // Waitable objects override this; the default refuses the wait.
  virtual DWORD Wait(DWORD milliseconds);
};

class EventObject final : public KernelObject {
 public:
  // Lets a backend have the thread that waits on the event do the waiting
  // for the device itself (one wake-up instead of two): while a hook is set,
  // Wait calls hook.Wait with the time left instead of sleeping, and Set
  // calls hook.Wake so that a hook waiting elsewhere returns.
  class WaitHook {
   public:
    virtual ~WaitHook() = default;
    virtual void Wait(DWORD milliseconds) = 0;
    virtual void Wake() = 0;
  };

  EventObject(bool manualReset, bool initialState)
      : manualReset_(manualReset), signalled_(initialState) {}
  void Set();
  void Reset();
  bool IsSet() const;
  DWORD Wait(DWORD milliseconds) override;
  void SetWaitHook(std::shared_ptr<WaitHook> hook);

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool manualReset_;
  bool signalled_;
  std::shared_ptr<WaitHook> hook_;
};

class HandleTable {
 public:
  HANDLE Insert(std::shared_ptr<KernelObject> object);
  std::shared_ptr<KernelObject> Find(HANDLE handle) const;
  template <class T>
  std::shared_ptr<T> FindAs(HANDLE handle) const {
    return std::dynamic_pointer_cast<T>(Find(handle));
  }
  // Takes the entry out of the table; null when there is none.
  std::shared_ptr<KernelObject> Remove(HANDLE handle);
  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::uintptr_t next_ = 0x100;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> entries_;
};

HandleTable& Handles();

// Thread-local last error, shared by every POSIX backend.
DWORD LastError();
void SetLastError(DWORD code);
// Maps an errno value to the nearest Win32 error code.
DWORD ErrorFromErrno(int err);

}  // namespace quorlink::platform::posix
