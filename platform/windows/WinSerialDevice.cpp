#include "platform/windows/WinSerialDevice.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <thread>
#include <utility>

namespace quorlink::platform::windows {

namespace {

// After a close, queued output is dropped when the device takes nothing for
// kStall, and in any case kDrainLimit after the close.
constexpr auto kStall = std::chrono::milliseconds(2000);
constexpr auto kDrainLimit = std::chrono::milliseconds(5000);
// How often a pending write looks at the drain limits.
constexpr DWORD kWriteSliceMs = 100;
// A read is asked only for what is queued and the port's time-outs make it
// return at once; a read still pending after this is cancelled.
constexpr DWORD kReadLimitMs = 1000;
// How long the last owner waits for a cancelled wait to let go of our record.
constexpr DWORD kWaitEndMs = 2000;

// Devices by path, open or still sending after their close, for a reopen in
// this process to find. Locked before any device's mutex.
std::mutex& RegistryMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<std::string, std::weak_ptr<WinSerialDevice>>& Registry() {
  static auto* r = new std::map<std::string, std::weak_ptr<WinSerialDevice>>;
  return *r;
}

BOOL Fail(DWORD code) {
  ::SetLastError(code);
  return FALSE;
}

// A handle of our own to the caller's event: the caller may close its handle
// (and the value be reused) while we still have to set the event.
HANDLE Duplicate(HANDLE event) {
  HANDLE dup = nullptr;
  if (event == nullptr) return nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), event, ::GetCurrentProcess(), &dup, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
    return nullptr;
  return dup;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

}  // namespace

std::shared_ptr<WinSerialDevice> WinSerialDevice::Open(const std::string& path) {
  std::string key = Upper(path);
  std::lock_guard registryLock(RegistryMutex());
  auto& registry = Registry();
  if (auto it = registry.find(key); it != registry.end()) {
    if (auto device = it->second.lock()) {
      std::lock_guard lock(device->mutex_);
      if (device->open_) return ::SetLastError(ERROR_SHARING_VIOLATION), nullptr;
      // Closed but still ours (sending, or about to let go): carry on with
      // it, its unsent output first.
      device->open_ = true;
      device->stop_ = false;
      device->inherited_ = device->queue_.size();
      device->keepInherited_ = true;
      return device;
    }
    registry.erase(it);
  }
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  // Reads return at once with what is queued; writes have no time limit.
  ::COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
  if (!::SetCommTimeouts(file, &timeouts)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    return ::SetLastError(error), nullptr;
  }
  std::shared_ptr<WinSerialDevice> device(new WinSerialDevice(key, file));
  if (!device->wake_ || !device->readOv_.hEvent || !device->writeOv_.hEvent)
    return ::SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  // A write completes when the driver has the bytes, not when they are out:
  // what an earlier session (ours or another program's) left in the driver
  // may not have gone yet (under Wine it sits in the pty until the far end
  // reads it), so the open's purge spares it.
  device->keepInherited_ = true;
  registry[key] = device;
  return device;
}

WinSerialDevice::WinSerialDevice(std::string key, HANDLE file) : key_(std::move(key)), file_(file) {
  wake_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  readOv_.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  writeOv_.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

WinSerialDevice::~WinSerialDevice() {
  ::CloseHandle(file_);
  // The system may still write our record and mask until the ended wait
  // has completed.
  if (waitPending_) ::WaitForSingleObject(waitEvent_, kWaitEndMs);
  if (waitEvent_) ::CloseHandle(waitEvent_);
  CompleteWrites();
  for (HANDLE h : {wake_, readOv_.hEvent, writeOv_.hEvent})
    if (h) ::CloseHandle(h);
}

void WinSerialDevice::Close() {
  std::lock_guard lock(mutex_);
  open_ = false;
  closedAt_ = progressAt_ = std::chrono::steady_clock::now();
  // Ends the reader's wait on Windows (mask 0) and under Wine (error 995).
  if (waitPending_) ::SetCommMask(file_, 0);
  if (writerRunning_) ::SetEvent(wake_);
}

bool WinSerialDevice::HarvestWait() {
  if (!waitPending_) return true;
  const DWORD saved = ::GetLastError();
  DWORD n = 0;
  if (!::GetOverlappedResult(file_, &waitOv_, &n, FALSE) &&
      ::GetLastError() == ERROR_IO_INCOMPLETE) {
    ::SetLastError(saved);
    return false;
  }
  ::SetLastError(saved);
  // The system sets the event just after it records the result: closing our
  // handle in between would leave the caller's event unset for good.
  ::WaitForSingleObject(waitEvent_, kWaitEndMs);
  ::CloseHandle(waitEvent_);
  waitEvent_ = nullptr;
  waitPending_ = false;
  return true;
}

BOOL WinSerialDevice::GetState(::DCB& dcb) {
  return ::GetCommState(file_, &dcb);
}

BOOL WinSerialDevice::SetState(::DCB& dcb) {
  ::DCB old{};
  old.DCBlength = sizeof old;
  if (!::GetCommState(file_, &old)) return FALSE;
  if (!::SetCommState(file_, &dcb)) return FALSE;
  // A driver may report success for a line setting it cannot carry (Wine on
  // a pty turns 56000 into 38400): only a read-back tells.
  ::DCB actual{};
  actual.DCBlength = sizeof actual;
  if (!::GetCommState(file_, &actual) || actual.BaudRate != dcb.BaudRate ||
      actual.ByteSize != dcb.ByteSize || actual.Parity != dcb.Parity ||
      actual.StopBits != dcb.StopBits || actual.fOutxCtsFlow != dcb.fOutxCtsFlow ||
      actual.fOutxDsrFlow != dcb.fOutxDsrFlow || actual.fOutX != dcb.fOutX ||
      actual.fInX != dcb.fInX ||
      (actual.fRtsControl == RTS_CONTROL_HANDSHAKE) != (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) ||
      (actual.fDtrControl == DTR_CONTROL_HANDSHAKE) != (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)) {
    ::SetCommState(file_, &old);
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return TRUE;
}

BOOL WinSerialDevice::SetMask(DWORD mask) {
  std::lock_guard lock(mutex_);
  if (!::SetCommMask(file_, mask)) return FALSE;
  mask_ = mask;
  return TRUE;
}

bool WinSerialDevice::EndEarlierWait(std::unique_lock<std::mutex>& lock) {
  if (HarvestWait()) return true;
  // It would wake only its own caller (often a closed session's reader,
  // when this one took the device over): it ends, as at a mask change, and
  // this wait takes its place. Wine may miss a mask that changes back soon,
  // so the mask stays 0 until the end is seen.
  // Its event alone does not tell (under Wine it was seen set while the
  // wait was still armed): the wait's own result does.
  ::SetCommMask(file_, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitEndMs);
  while (!HarvestWait()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    lock.unlock();
    ::Sleep(1);
    lock.lock();
  }
  return ::SetCommMask(file_, mask_) != FALSE;
}

BOOL WinSerialDevice::WaitEvent(DWORD* mask, ::OVERLAPPED* overlapped) {
  if (mask == nullptr || overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::unique_lock lock(mutex_);
  if (!EndEarlierWait(lock)) return Fail(ERROR_BUSY);
  HANDLE event = Duplicate(overlapped->hEvent);
  if (event == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  // Set by this wait's end only: an earlier completion may have left it set.
  ::ResetEvent(event);
  waitOv_ = ::OVERLAPPED{};
  waitOv_.hEvent = event;
  waitMask_ = 0;
  if (::WaitCommEvent(file_, &waitMask_, &waitOv_)) {
    *mask = waitMask_;
    ::CloseHandle(event);
    return TRUE;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) {
    waitEvent_ = event;
    waitPending_ = true;
  } else {
    ::CloseHandle(event);
  }
  return Fail(error);
}

std::size_t WinSerialDevice::Queued() const {
  std::size_t n = inflightLeft_;
  for (const auto& chunk : queue_) n += chunk.size();
  return n;
}

BOOL WinSerialDevice::ClearError(DWORD* errors, ::COMSTAT* stat) {
  ::COMSTAT own{};
  DWORD found = 0;
  if (!::ClearCommError(file_, &found, &own)) return FALSE;
  std::lock_guard lock(mutex_);
  own.cbOutQue += static_cast<DWORD>(Queued());
  if (errors) *errors = found;
  if (stat) *stat = own;
  return TRUE;
}

BOOL WinSerialDevice::Read(void* buffer, DWORD toRead, DWORD* read) {
  if (read) *read = 0;
  if (toRead == 0) return TRUE;
  std::lock_guard lock(readMutex_);
  ::HANDLE event = readOv_.hEvent;
  readOv_ = ::OVERLAPPED{};
  readOv_.hEvent = event;
  ::ResetEvent(event);
  DWORD n = 0;
  if (!::ReadFile(file_, buffer, toRead, &n, &readOv_)) {
    if (::GetLastError() != ERROR_IO_PENDING) return FALSE;
    // Wine leaves a read of queued bytes pending for a moment: wait for it,
    // so that nothing lands in the caller's buffer after we return.
    if (::WaitForSingleObject(event, kReadLimitMs) != WAIT_OBJECT_0) ::CancelIoEx(file_, &readOv_);
    if (!::GetOverlappedResult(file_, &readOv_, &n, TRUE) &&
        ::GetLastError() != ERROR_OPERATION_ABORTED)
      return FALSE;
  }
  // Nothing queued: a read that would have to wait counts as failed.
  if (n == 0) return Fail(ERROR_IO_PENDING);
  if (read) *read = n;
  return TRUE;
}

BOOL WinSerialDevice::Write(const void* buffer, DWORD toWrite, DWORD* written,
                            ::OVERLAPPED* overlapped) {
  if (written) *written = 0;
  if (overlapped == nullptr || (buffer == nullptr && toWrite > 0))
    return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (failed_) return Fail(ERROR_GEN_FAILURE);
  if (toWrite == 0) {
    if (overlapped->hEvent) ::SetEvent(overlapped->hEvent);
    return TRUE;
  }
  HANDLE event = Duplicate(overlapped->hEvent);
  if (overlapped->hEvent && !event) return Fail(ERROR_INVALID_PARAMETER);
  if (!StartWriter()) {
    if (event) ::CloseHandle(event);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (event) {
    ::ResetEvent(event);
    writeEvents_.push_back(event);
  }
  const auto* bytes = static_cast<const BYTE*>(buffer);
  queue_.emplace_back(bytes, bytes + toWrite);
  ::SetEvent(wake_);
  return Fail(ERROR_IO_PENDING);
}

BOOL WinSerialDevice::Purge(DWORD flags) {
  std::lock_guard lock(mutex_);
  const bool keep = std::exchange(keepInherited_, false);
  if ((flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0) {
    if (keep && inherited_ > 0) {
      queue_.resize(inherited_);
    } else {
      queue_.clear();
      inherited_ = 0;
    }
    if (queue_.empty() && inflightLeft_ == 0) CompleteWrites();
  }
  // The device's own buffer may hold what an earlier session sent: the
  // open's purge leaves it, and aborts no write of the inherited output.
  const DWORD osFlags = keep ? (flags & ~static_cast<DWORD>(PURGE_TXCLEAR | PURGE_TXABORT)) : flags;
  return osFlags == 0 ? TRUE : ::PurgeComm(file_, osFlags);
}

void WinSerialDevice::CompleteWrites() {
  for (HANDLE event : writeEvents_) {
    ::SetEvent(event);
    ::CloseHandle(event);
  }
  writeEvents_.clear();
}

bool WinSerialDevice::StartWriter() {
  if (writerRunning_) return true;
  try {
    std::thread(RunWriter, shared_from_this()).detach();
  } catch (...) {
    return false;
  }
  writerRunning_ = true;
  return true;
}

bool WinSerialDevice::DrainOver() const {
  const auto now = std::chrono::steady_clock::now();
  return now - progressAt_ >= kStall || now - closedAt_ >= kDrainLimit;
}

void WinSerialDevice::RunWriter(std::shared_ptr<WinSerialDevice> self) {
  for (;;) {
    std::vector<BYTE> chunk;
    {
      std::unique_lock lock(self->mutex_);
      while (self->queue_.empty()) {
        // Closed with nothing left to send: the device may go.
        if (!self->open_) self->stop_ = true;
        if (self->stop_) {
          self->writerRunning_ = false;
          return;  // the last owner closes the device
        }
        lock.unlock();
        ::WaitForSingleObject(self->wake_, INFINITE);
        lock.lock();
      }
      chunk = std::move(self->queue_.front());
      self->queue_.pop_front();
      if (self->inherited_ > 0) --self->inherited_;
      self->inflightLeft_ = chunk.size();
    }
    const DWORD error = self->Send(chunk);
    std::lock_guard lock(self->mutex_);
    self->inflightLeft_ = 0;
    // A purge's abort is no fault of the device; a closed port's drain that
    // ran out drops the rest; anything else fails later writes.
    if (error != ERROR_SUCCESS && (error != ERROR_OPERATION_ABORTED || !self->open_)) {
      if (self->open_) self->failed_ = true;
      self->queue_.clear();
      self->inherited_ = 0;
    }
    if (self->queue_.empty()) self->CompleteWrites();
  }
}

DWORD WinSerialDevice::Send(std::vector<BYTE>& chunk) {
  std::size_t at = 0;
  while (at < chunk.size()) {
    HANDLE event = writeOv_.hEvent;
    writeOv_ = ::OVERLAPPED{};
    writeOv_.hEvent = event;
    ::ResetEvent(event);
    DWORD n = 0;
    if (!::WriteFile(file_, chunk.data() + at, static_cast<DWORD>(chunk.size() - at), &n,
                     &writeOv_)) {
      if (::GetLastError() != ERROR_IO_PENDING) return ::GetLastError();
      while (::WaitForSingleObject(event, kWriteSliceMs) == WAIT_TIMEOUT) {
        std::lock_guard lock(mutex_);
        if (!open_ && DrainOver()) ::CancelIoEx(file_, &writeOv_);
      }
      if (!::GetOverlappedResult(file_, &writeOv_, &n, FALSE)) return ::GetLastError();
    }
    at += n;
    std::lock_guard lock(mutex_);
    inflightLeft_ = chunk.size() - at;
    if (n > 0) progressAt_ = std::chrono::steady_clock::now();
    if (!open_ && DrainOver()) return at < chunk.size() ? ERROR_OPERATION_ABORTED : ERROR_SUCCESS;
    if (n == 0) ::Sleep(5);  // the device took nothing: do not spin
  }
  return ERROR_SUCCESS;
}

BOOL WinSerialDevice::Escape(DWORD function) {
  return ::EscapeCommFunction(file_, function);
}

BOOL WinSerialDevice::ModemStatus(DWORD* status) {
  if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return ::GetCommModemStatus(file_, status);
}

}  // namespace quorlink::platform::windows
