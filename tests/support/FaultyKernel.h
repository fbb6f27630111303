// A kernel decorator: records calls, fails a chosen one, and tracks which
// handles are open so tests can check every handle is closed exactly once.
#pragma once

#include <map>
#include <mutex>

#include "platform/Kernel.h"
#include "support/FaultPlan.h"

namespace quorlink::testing {

class FaultyKernel final : public platform::IKernel {
 public:
  explicit FaultyKernel(FaultPlan& plan) : plan_(plan), inner_(platform::OsKernel()) {}

  DWORD GetLastError() override { return inner_.GetLastError(); }
  void SetLastError(DWORD code) override { inner_.SetLastError(code); }

  BOOL CloseHandle(HANDLE h) override {
    {
      std::lock_guard lock(mutex_);
      ++closes_[h];
    }
    if (plan_.Hit("CloseHandle")) return Fail(FALSE);
    return inner_.CloseHandle(h);
  }
  HANDLE CreateEventA(void* sa, BOOL manual, BOOL initial, const char* name) override {
    if (plan_.Hit("CreateEventA")) return Fail<HANDLE>(nullptr);
    HANDLE h = inner_.CreateEventA(sa, manual, initial, name);
    Opened(h);
    return h;
  }
  BOOL SetEvent(HANDLE h) override {
    if (plan_.Hit("SetEvent")) return Fail(FALSE);
    return inner_.SetEvent(h);
  }
  BOOL ResetEvent(HANDLE h) override {
    if (plan_.Hit("ResetEvent")) return Fail(FALSE);
    return inner_.ResetEvent(h);
  }
  DWORD WaitForSingleObject(HANDLE h, DWORD ms) override {
    if (plan_.Hit("WaitForSingleObject")) return Fail(WAIT_FAILED);
    return inner_.WaitForSingleObject(h, ms);
  }
  DWORD FormatMessageA(DWORD f, const void* s, DWORD id, DWORD lang, char* b, DWORD n,
                       void* a) override {
    if (plan_.Hit("FormatMessageA")) return Fail<DWORD>(0);
    return inner_.FormatMessageA(f, s, id, lang, b, n, a);
  }
  DWORD FormatMessageW(DWORD f, const void* s, DWORD id, DWORD lang, WCHAR* b, DWORD n,
                       void* a) override {
    if (plan_.Hit("FormatMessageW")) return Fail<DWORD>(0);
    return inner_.FormatMessageW(f, s, id, lang, b, n, a);
  }

  // For handles made through other decorators (ports, sockets).
  void Opened(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    std::lock_guard lock(mutex_);
    closes_.try_emplace(h, 0);
  }
  // Handle -> number of CloseHandle calls made on it.
  std::map<HANDLE, int> Closes() const {
    std::lock_guard lock(mutex_);
    return closes_;
  }
  bool EveryHandleClosedOnce() const {
    std::lock_guard lock(mutex_);
    for (const auto& [h, n] : closes_)
      if (n != 1) return false;
    return true;
  }

 private:
  template <class T>
  T Fail(T value) {
    inner_.SetLastError(plan_.Error());
    return value;
  }

  FaultPlan& plan_;
  platform::IKernel& inner_;
  mutable std::mutex mutex_;
  std::map<HANDLE, int> closes_;
};

}  // namespace quorlink::testing
