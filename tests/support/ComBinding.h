// "COMn" bound to a device path for a scope (tests, the demo).
#pragma once

#include <string>

#include "quorlink/platform/Serial.h"

namespace quorlink::testing {

// Binds "COMn" to a path for the scope.
class ScopedComBinding {
 public:
  ScopedComBinding(unsigned number, const std::string& path) : number_(number) {
    platform::BindComPort(number, path);
  }
  ~ScopedComBinding() { platform::UnbindComPort(number_); }
  ScopedComBinding(const ScopedComBinding&) = delete;
  ScopedComBinding& operator=(const ScopedComBinding&) = delete;

 private:
  unsigned number_;
};

}  // namespace quorlink::testing
