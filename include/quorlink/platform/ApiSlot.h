/// @file
/// The one indirection between the library and the operating system: each
/// platform interface has a slot that holds the OS backend unless a test (or a
/// program) puts a decorator in front of it.
#pragma once

#include <atomic>

namespace quorlink::platform {

template <class Api>
class ApiSlot {
 public:
  Api& Get(Api& osBackend) const {
    Api* p = override_.load(std::memory_order_acquire);
    return p ? *p : osBackend;
  }
  /// Returns the previous override; nullptr restores the OS backend.
  Api* Set(Api* api) { return override_.exchange(api, std::memory_order_acq_rel); }

 private:
  std::atomic<Api*> override_{nullptr};
};

/// Installs an override for the lifetime of the object (tests).
template <class Api, Api* (*Setter)(Api*)>
class ScopedApi {
 public:
  explicit ScopedApi(Api& api) : previous_(Setter(&api)) {}
  ~ScopedApi() { Setter(previous_); }
  ScopedApi(const ScopedApi&) = delete;
  ScopedApi& operator=(const ScopedApi&) = delete;

 private:
  Api* previous_;
};

}  // namespace quorlink::platform
