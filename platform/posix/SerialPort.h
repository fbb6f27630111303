// An open serial device in the handle table. Overlapped calls are emulated
// with one I/O thread per port, made on first need: it sleeps in poll() on
// the device until a pending wait can end or queued output can go, so an idle
// port costs no wake-ups.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Serial.h"
#include "platform/posix/HandleTable.h"
#include "platform/posix/SerialTermios.h"

namespace quorlink::platform::posix {

class SerialPort final : public KernelObject, public std::enable_shared_from_this<SerialPort> {
 public:
  // Opens the device exclusively and raw; null with the last error set.
  static std::shared_ptr<SerialPort> Open(const std::string& path);
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // The last handle is gone: pending waits end, and the I/O thread stops
  // once what was written has gone out (or the device stops taking it).
  void OnClose() override;

  BOOL GetState(DCB& dcb);
  BOOL SetState(const DCB& dcb);
  BOOL Purge(DWORD flags);
  BOOL SetMask(DWORD mask);
  BOOL WaitEvent(DWORD* mask, OVERLAPPED* overlapped);
  BOOL ClearError(DWORD* errors, COMSTAT* stat);
  BOOL Read(void* buffer, DWORD toRead, DWORD* read);
  BOOL Write(const void* buffer, DWORD toWrite, DWORD* written, OVERLAPPED* overlapped);

 private:
  explicit SerialPort(int fd);
  // Caller holds mutex_.
  void EnsureThread();
  void WakeThread();
  void CompleteWait();
  void CompleteWrites();
  bool FlushQueue();  // false when the device refused
  void Run();

  const int fd_;
  int wakeFd_ = -1;
  std::mutex mutex_;
  DCB shadow_;
  DWORD mask_ = 0;
  HANDLE waitEvent_ = nullptr;  // the pending WaitCommEvent's event
  bool hungUp_ = false;
  std::deque<std::vector<BYTE>> queue_;  // output not yet taken by the device
  std::size_t queueHead_ = 0;            // bytes of queue_.front() already sent
  std::vector<HANDLE> writeEvents_;      // set when the queue has drained
  bool closed_ = false;
  bool stopThread_ = false;
  std::thread thread_;
  std::shared_ptr<SerialPort> lingering_;  // keeps the port while it drains after close
  std::uint32_t errorCounts_[4] = {};      // overrun, parity, frame, break, as last seen
};

}  // namespace quorlink::platform::posix
