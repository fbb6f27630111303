#include "platform/posix/HandleTable.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace quorlink::platform::posix {

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

void EventObject::Set() {
  std::shared_ptr<WaitHook> hook;
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    hook = hook_;
  }
  cv_.notify_all();
  if (hook) hook->Wake();
}

void EventObject::SetWaitHook(std::shared_ptr<WaitHook> hook) {
  {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
  }
  cv_.notify_all();  // a sleeping waiter turns to the hook
}

void EventObject::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool EventObject::IsSet() const {
  std::lock_guard lock(mutex_);
  return signalled_;
}

DWORD EventObject::Wait(DWORD milliseconds) {
  std::unique_lock lock(mutex_);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  auto ready = [this] { return signalled_ || hook_ != nullptr; };
  while (!signalled_) {
    if (hook_) {
      auto hook = hook_;
      lock.unlock();
      DWORD left = INFINITE;
      if (milliseconds != INFINITE) {
        const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        left = static_cast<DWORD>(std::max<std::int64_t>(0, rest.count()));
      }
      hook->Wait(left);
      lock.lock();
      if (!signalled_ && left != INFINITE && std::chrono::steady_clock::now() >= deadline)
        return WAIT_TIMEOUT;
      continue;
    }
    if (milliseconds == INFINITE) {
      cv_.wait(lock, ready);
    } else if (!cv_.wait_until(lock, deadline, ready)) {
      return WAIT_TIMEOUT;
    }
  }
  if (!manualReset_) signalled_ = false;
  return WAIT_OBJECT_0;
}

HANDLE HandleTable::Insert(std::shared_ptr<KernelObject> object) {
  std::lock_guard lock(mutex_);
  std::uintptr_t value = next_;
  next_ += 4;
  entries_.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleTable::Find(HANDLE handle) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == entries_.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> HandleTable::Remove(HANDLE handle) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == entries_.end()) return nullptr;
  auto object = std::move(it->second);
  entries_.erase(it);
  return object;
}

std::size_t HandleTable::Size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // outlives every static user
  return *table;
}

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD LastError() {
  return lastError;
}
void SetLastError(DWORD code) {
  lastError = code;
}

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    case ENXIO:
    case ENODEV:
      return ERROR_DEV_NOT_EXIST;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOTSUP:
      return ERROR_NOT_SUPPORTED;
    case ECANCELED:
      return ERROR_OPERATION_ABORTED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace quorlink::platform::posix
