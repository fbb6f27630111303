// An open serial device in the handle table. Overlapped calls are emulated:
// the thread that waits on a pending WaitCommEvent's event polls the device
// itself, and one I/O thread per port, made on first need, sends the output
// that could not go at once. Both sleep in poll() without a time-out, so an
// idle port costs no wake-ups.
//
// Closing with output pending: the I/O thread goes on sending it (the
// device's own buffer included) while the device stays locked. An open of
// the same device in this process meanwhile takes the port over: what the
// earlier session wrote goes out first, then the new session's output, and
// the open's purge keeps the earlier output (an open's purge never drops
// what the device's own buffer holds: an earlier close sent it). Otherwise the drain ends when
// everything has gone, when the device fails, when it takes nothing for
// 2 seconds, or at the latest 5 seconds after the close; what is left then is
// discarded and the device is free for other programs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/HandleTable.h"
#include "platform/posix/SerialInputQueue.h"
#include "platform/posix/SerialTermios.h"
#include "quorlink/platform/Serial.h"

namespace quorlink::platform::posix {

class SerialPort final : public KernelObject, public std::enable_shared_from_this<SerialPort> {
 public:
  // Opens the device exclusively and raw, or takes over this process's port
  // on it that is still sending after its close; null with the last error set.
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
  BOOL Escape(DWORD function);
  BOOL ModemStatus(DWORD* status);

 private:
  explicit SerialPort(int fd);
  // Caller holds mutex_.
  void EnsureThread();
  void WakeThread();
  void CompleteWait(bool fromWaiter = false);
  void CompleteWrites();
  bool FlushQueue();  // false when the device refused
  void Fill();        // takes what the device has into the input queue
  void Run();
  // After close: true when the drain is over (sent, failed, stalled or out of
  // time); what is left then is discarded.
  bool DrainOver();
  // Lets go of the device unless the port was taken over meanwhile; true
  // when let go (this object may then be gone). Caller holds mutex_ via lock.
  bool FinishDrain(std::unique_lock<std::mutex>& lock);
  // A new port that carries on where this closed one stops: its unsent
  // output comes first. Null when it cannot. Caller holds the registry's
  // and this port's mutex.
  std::shared_ptr<SerialPort> HandOver();
  // The reader's own wait for the device (see EventObject::WaitHook).
  void WaitInline(DWORD milliseconds);
  void WakeWaiter();
  // True when the modem input lines differ from what ModemStatus last
  // reported while a wait asks for them. Caller holds mutex_.
  bool LinesChanged();
  class Waiter;

  const int fd_;
  int wakeFd_ = -1;        // wakes the I/O thread
  int waiterWakeFd_ = -1;  // wakes a thread waiting inline
  std::mutex mutex_;
  DCB shadow_;
  DWORD mask_ = 0;
  HANDLE waitEvent_ = nullptr;  // the pending WaitCommEvent's event
  bool hungUp_ = false;
  SerialInputQueue input_{64 * 1024};
  std::deque<std::vector<BYTE>> queue_;  // output not yet taken by the device
  std::size_t queueHead_ = 0;            // bytes of queue_.front() already sent
  std::size_t inherited_ = 0;            // leading chunks an earlier session wrote
  bool keepInherited_ = false;           // the reopen's purge spares the earlier output
  std::vector<HANDLE> writeEvents_;      // set when the queue has drained
  bool closed_ = false;
  bool handedOver_ = false;  // a successor has the device: leave it to it
  bool stopThread_ = false;
  std::thread thread_;
  std::shared_ptr<SerialPort> lingering_;  // keeps the port while it drains after close
  dev_t device_ = 0;                       // the device's number, for a takeover
  std::chrono::steady_clock::time_point closedAt_, progressAt_;
  std::size_t lastLeft_ = 0;           // bytes left at the last progress check
  std::uint32_t errorCounts_[4] = {};  // overrun, parity, frame, break, as last seen
  bool countsKnown_ = false;           // the driver keeps error counts (a pty does not)
  bool deviceMayHoldOutput_ = true;    // written since TIOCOUTQ last said empty
  DWORD linesReported_ = 0;            // MS_ status as ModemStatus last gave it
};

}  // namespace quorlink::platform::posix
