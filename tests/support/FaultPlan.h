// Records the platform calls a test makes and makes a chosen one fail. Each
// decorator (one per platform interface) asks Hit(name) before forwarding.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "quorlink/platform/Types.h"

namespace quorlink::testing {

class FaultPlan {
 public:
  // Makes the nth call (1-based) of `call` fail with `error`; 0 = every call.
  void FailCall(std::string call, DWORD error, int nth = 1) {
    std::lock_guard lock(mutex_);
    failCall_ = std::move(call);
    error_ = error;
    nth_ = nth;
    seen_ = 0;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    failCall_.clear();
  }
  // Records the call; true when it must fail (the decorator then sets
  // Error() as the last error and returns the call's failure value). `on`
  // names what the call acts on where that matters: a plan for "call@on"
  // counts and fails only those calls.
  bool Hit(const std::string& call, const std::string& on = {}) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    if (call != failCall_ && (on.empty() || call + "@" + on != failCall_)) return false;
    ++seen_;
    return nth_ == 0 || seen_ == nth_;
  }
  DWORD Error() const {
    std::lock_guard lock(mutex_);
    return error_;
  }
  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  int Count(const std::string& call) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
  }
  void ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::string failCall_;
  DWORD error_ = 0;
  int nth_ = 1;
  int seen_ = 0;
};

}  // namespace quorlink::testing
