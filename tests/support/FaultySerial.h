// A serial decorator: records calls, fails a chosen one, and reports the
// port handles it opens to a FaultyKernel so that their closes are counted.
#pragma once

#include <functional>
#include <string>

#include "quorlink/platform/Serial.h"
#include "support/FaultPlan.h"
#include "support/FaultyKernel.h"

namespace quorlink::testing {

class FaultySerial final : public platform::ISerial {
 public:
  FaultySerial(FaultPlan& plan, FaultyKernel* kernel = nullptr)
      : plan_(plan), kernel_(kernel), inner_(platform::OsSerial()) {}

  // Runs before each call is forwarded (on the calling thread).
  std::function<void(const std::string& call)> BeforeCall;
  // When set, answers GetCommModemStatus instead of the device (any thread).
  std::function<BOOL(DWORD* status)> ModemStatus;

  HANDLE CreateFileA(const char* n, DWORD a, DWORD s, void* sa, DWORD c, DWORD f,
                     HANDLE t) override {
    if (Hit("CreateFileA")) return Fail(INVALID_HANDLE_VALUE);
    HANDLE h = inner_.CreateFileA(n, a, s, sa, c, f, t);
    if (kernel_ != nullptr) kernel_->Opened(h);
    return h;
  }
  BOOL GetCommState(HANDLE h, DCB* d) override {
    return Hit("GetCommState") ? Fail(FALSE) : inner_.GetCommState(h, d);
  }
  BOOL SetCommState(HANDLE h, DCB* d) override {
    return Hit("SetCommState") ? Fail(FALSE) : inner_.SetCommState(h, d);
  }
  BOOL PurgeComm(HANDLE h, DWORD f) override {
    return Hit("PurgeComm") ? Fail(FALSE) : inner_.PurgeComm(h, f);
  }
  BOOL SetCommMask(HANDLE h, DWORD m) override {
    return Hit("SetCommMask") ? Fail(FALSE) : inner_.SetCommMask(h, m);
  }
  BOOL WaitCommEvent(HANDLE h, DWORD* m, OVERLAPPED* o) override {
    return Hit("WaitCommEvent") ? Fail(FALSE) : inner_.WaitCommEvent(h, m, o);
  }
  BOOL ClearCommError(HANDLE h, DWORD* e, COMSTAT* s) override {
    return Hit("ClearCommError") ? Fail(FALSE) : inner_.ClearCommError(h, e, s);
  }
  BOOL ReadFile(HANDLE h, void* b, DWORD n, DWORD* r, OVERLAPPED* o) override {
    return Hit("ReadFile") ? Fail(FALSE) : inner_.ReadFile(h, b, n, r, o);
  }
  BOOL WriteFile(HANDLE h, const void* b, DWORD n, DWORD* w, OVERLAPPED* o) override {
    return Hit("WriteFile") ? Fail(FALSE) : inner_.WriteFile(h, b, n, w, o);
  }
  BOOL EscapeCommFunction(HANDLE h, DWORD f) override {
    return Hit("EscapeCommFunction") ? Fail(FALSE) : inner_.EscapeCommFunction(h, f);
  }
  BOOL GetCommModemStatus(HANDLE h, DWORD* s) override {
    if (Hit("GetCommModemStatus")) return Fail(FALSE);
    return ModemStatus ? ModemStatus(s) : inner_.GetCommModemStatus(h, s);
  }

 private:
  bool Hit(const std::string& call) {
    if (BeforeCall) BeforeCall(call);
    return plan_.Hit(call);
  }
  template <class T>
  T Fail(T value) {
    platform::OsKernel().SetLastError(plan_.Error());
    return value;
  }

  FaultPlan& plan_;
  FaultyKernel* kernel_;
  platform::ISerial& inner_;
};

}  // namespace quorlink::testing
