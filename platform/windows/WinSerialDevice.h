// One open COM device over the real Win32 calls, keeping the promises of
// platform/Serial.h that Win32 alone does not keep (under Wine least of all):
// - the device's overlapped records, wait mask and read buffer are its own,
//   so nothing is written into a caller's record, mask or buffer after a
//   call has returned;
// - every write is copied and sent by the device's own writer thread, one
//   overlapped WriteFile at a time, in order; the callers' events are set
//   when the queue has drained (Wine corrupts back-to-back writes that share
//   one record even while each returns TRUE);
// - a read is waited for before ReadFile returns (Wine answers
//   ERROR_IO_PENDING with bytes queued);
// - line settings are read back after SetCommState: one the driver did not
//   take fails the call and leaves the settings as they were;
// - a wait replaces one still armed for an earlier caller (a closed
//   session's reader when a reopen takes the device over), which ends;
// - a close ends the pending WaitCommEvent (through SetCommMask(0), which
//   Wine and Windows both honour; CancelIoEx does not end it under Wine).
// After the close, output still queued goes on being sent, like the POSIX
// backend: until sent, refused, 2 s without progress or 5 s after the close.
// An open of the same device in this process meanwhile takes it over.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quorlink/platform/Serial.h"

namespace quorlink::platform::windows {

class WinSerialDevice final : public std::enable_shared_from_this<WinSerialDevice> {
 public:
  // Opens (or takes over) the device at a Win32 path; null with the thread's
  // last error set.
  static std::shared_ptr<WinSerialDevice> Open(const std::string& path);
  ~WinSerialDevice();
  WinSerialDevice(const WinSerialDevice&) = delete;
  WinSerialDevice& operator=(const WinSerialDevice&) = delete;

  // The session's handle is gone: the pending wait ends, and the device is
  // let go once its output has drained.
  void Close();

  BOOL GetState(::DCB& dcb);
  BOOL SetState(::DCB& dcb);
  BOOL Purge(DWORD flags);
  BOOL SetMask(DWORD mask);
  BOOL WaitEvent(DWORD* mask, ::OVERLAPPED* overlapped);
  BOOL ClearError(DWORD* errors, ::COMSTAT* stat);
  BOOL Read(void* buffer, DWORD toRead, DWORD* read);
  BOOL Write(const void* buffer, DWORD toWrite, DWORD* written, ::OVERLAPPED* overlapped);
  BOOL Escape(DWORD function);
  BOOL ModemStatus(DWORD* status);

 private:
  WinSerialDevice(std::string key, HANDLE file);
  // Caller holds mutex_.
  bool HarvestWait();  // true when no wait of ours is in flight
  // Ends a wait still armed for an earlier caller; false when it would not
  // end. Unlocks while it waits.
  bool EndEarlierWait(std::unique_lock<std::mutex>& lock);
  void CompleteWrites();
  std::size_t Queued() const;
  bool StartWriter();
  // The writer thread's loop; holds the device alive while it runs.
  static void RunWriter(std::shared_ptr<WinSerialDevice> self);
  // Sends one chunk: ERROR_SUCCESS, or why not (ERROR_OPERATION_ABORTED
  // when a purge or the end of the drain cut it short).
  DWORD Send(std::vector<BYTE>& chunk);
  bool DrainOver() const;  // caller holds mutex_

  const std::string key_;  // registry key (upper-cased path)
  const HANDLE file_;
  std::mutex mutex_;
  bool open_ = true;     // a session holds the device
  bool failed_ = false;  // the device refused output: later writes fail
  bool stop_ = false;    // the writer ends
  bool writerRunning_ = false;

  // The pending WaitCommEvent: our record, our mask word and a duplicate of
  // the caller's event (the caller may close its own at any time).
  ::OVERLAPPED waitOv_{};
  DWORD waitMask_ = 0;
  DWORD mask_ = 0;  // the events the caller asked for
  HANDLE waitEvent_ = nullptr;
  bool waitPending_ = false;

  std::mutex readMutex_;  // one read at a time on readOv_
  ::OVERLAPPED readOv_{};

  HANDLE wake_ = nullptr;  // auto-reset: work for the writer
  ::OVERLAPPED writeOv_{};
  std::deque<std::vector<BYTE>> queue_;  // copies not yet handed to the device
  std::size_t inflightLeft_ = 0;         // bytes of the chunk being sent
  std::size_t inherited_ = 0;            // leading chunks an earlier session wrote
  bool keepInherited_ = false;           // the takeover's purge spares them
  std::vector<HANDLE> writeEvents_;      // duplicates, set when all is sent
  std::chrono::steady_clock::time_point closedAt_, progressAt_;
};

}  // namespace quorlink::platform::windows
