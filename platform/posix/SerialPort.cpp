#include "platform/posix/SerialPort.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <iterator>
#include <map>
#include <utility>

#include "platform/posix/SerialIoctl.h"

namespace quorlink::platform::posix {

namespace {

// After a close, pending output is dropped when the device takes nothing
// for kStall, and in any case kDrainLimit after the close, so that another
// program can have the device.
constexpr auto kStall = std::chrono::milliseconds(2000);
constexpr auto kDrainLimit = std::chrono::milliseconds(5000);
// How often the device's own buffer is looked at while it drains: nothing
// signals when it has gone out.
constexpr int kDrainPollMs = 5;
// How often a wait that asks for modem-line changes looks at the lines: the
// kernel's own wait for them (TIOCMIWAIT) cannot be ended by a close.
constexpr int kLinePollMs = 20;
constexpr DWORD kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// Ports still sending after their close, by device number, for a reopen in
// this process to take over. Locked before any port's mutex.
std::mutex& DrainingMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::map<dev_t, std::weak_ptr<SerialPort>>& Draining() {
  static auto* m = new std::map<dev_t, std::weak_ptr<SerialPort>>;
  return *m;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL FailErrno(int err) {
  return Fail(ErrorFromErrno(err));
}

void SignalEvent(HANDLE h, bool set) {
  if (auto e = Handles().FindAs<EventObject>(h)) set ? e->Set() : e->Reset();
}

// The device's error counters, in CE_ order: overrun, parity, frame, break.
bool ReadCounts(int fd, std::uint32_t (&counts)[4]) {
  serial_icounter_struct c{};
  if (ioctl(fd, TIOCGICOUNT, &c) != 0) return false;
  counts[0] = static_cast<std::uint32_t>(c.overrun + c.buf_overrun);
  counts[1] = static_cast<std::uint32_t>(c.parity);
  counts[2] = static_cast<std::uint32_t>(c.frame);
  counts[3] = static_cast<std::uint32_t>(c.brk);
  return true;
}

// The MS_ status of the device's input lines; false (errno set) when it has none.
bool ReadLines(int fd, DWORD& status) {
  int bits = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) return false;
  status = ((bits & TIOCM_CTS) != 0 ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) != 0 ? MS_DSR_ON : 0) |
           ((bits & TIOCM_RNG) != 0 ? MS_RING_ON : 0) | ((bits & TIOCM_CAR) != 0 ? MS_RLSD_ON : 0);
  return true;
}

// A terminal without the lines or the ioctl (a pty) answers ENOTTY or EINVAL.
DWORD LineError(int err) {
  return err == ENOTTY || err == EINVAL ? ERROR_NOT_SUPPORTED : ErrorFromErrno(err);
}

void Poke(int fd) {
  std::uint64_t one = 1;
  [[maybe_unused]] auto r = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
  std::uint64_t count;
  [[maybe_unused]] auto r = ::read(fd, &count, sizeof count);
}

}  // namespace

class SerialPort::Waiter final : public EventObject::WaitHook {
 public:
  Waiter(std::weak_ptr<SerialPort> port, std::weak_ptr<EventObject> event)
      : port_(std::move(port)), event_(std::move(event)) {}
  void Wait(DWORD milliseconds) override {
    if (auto port = port_.lock())
      port->WaitInline(milliseconds);
    else if (auto event = event_.lock())
      event->SetWaitHook(nullptr);  // the port has gone: wait as a plain event
  }
  void Wake() override {
    if (auto port = port_.lock()) port->WakeWaiter();
  }

 private:
  std::weak_ptr<SerialPort> port_;
  std::weak_ptr<EventObject> event_;
};

std::shared_ptr<SerialPort> SerialPort::Open(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
    std::lock_guard registry(DrainingMutex());
    auto it = Draining().find(st.st_rdev);
    if (it != Draining().end()) {
      auto port = it->second.lock();
      Draining().erase(it);
      if (port) {
        std::lock_guard lock(port->mutex_);
        if (auto next = port->HandOver()) return next;
      }
    }
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A directory is no more a serial device than a plain file is.
    SetLastError(errno == EISDIR ? ERROR_INVALID_FUNCTION : ErrorFromErrno(errno));
    return nullptr;
  }
  auto fail = [fd](DWORD code) -> std::shared_ptr<SerialPort> {
    ::close(fd);
    SetLastError(code);
    return nullptr;
  };
  if (!isatty(fd)) return fail(ERROR_INVALID_FUNCTION);
  // The lock keeps out every other open, ours included; TIOCEXCL keeps out
  // programs that do not lock.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    return fail(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(errno));
  ioctl(fd, TIOCEXCL);
  KernelTermios t;
  if (int err = GetKernelTermios(fd, t)) return fail(ErrorFromErrno(err));
  MakeRaw(t);
  if (int err = SetKernelTermios(fd, t)) return fail(ErrorFromErrno(err));
  std::shared_ptr<SerialPort> port(new SerialPort(fd));
  port->waiterWakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (port->waiterWakeFd_ < 0) {
    SetLastError(ErrorFromErrno(errno));
    return nullptr;
  }
  port->countsKnown_ = ReadCounts(fd, port->errorCounts_);
  // What an earlier program's close left in the device's buffer was sent as
  // far as it knows (a pty's far end may not have read it yet): the open's
  // purge spares it.
  port->keepInherited_ = true;
  struct stat st2 {};
  if (fstat(fd, &st2) == 0) port->device_ = st2.st_rdev;
  return port;
}

SerialPort::SerialPort(int fd) : fd_(fd), shadow_(DefaultDcb()) {}

SerialPort::~SerialPort() {
  if (thread_.joinable()) thread_.detach();  // only when the drain thread dropped the last ref
  // A successor shares the device's lock and exclusive mode: leave them.
  if (!handedOver_) ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (waiterWakeFd_ >= 0) ::close(waiterWakeFd_);
}

void SerialPort::OnClose() {
  // The registry first (the lock order), so that the drain cannot end
  // before it is listed for a takeover.
  std::unique_lock registry(DrainingMutex());
  std::unique_lock lock(mutex_);
  closed_ = true;
  CompleteWait();
  int held = 0;
  if (hungUp_ || ioctl(fd_, TIOCOUTQ, &held) != 0) held = 0;
  if (!hungUp_ && (!queue_.empty() || held > 0)) {
    // Written bytes still go out, from the I/O thread, so that a slow line
    // never holds up the caller; the device stays taken until they have.
    lingering_ = shared_from_this();
    closedAt_ = progressAt_ = std::chrono::steady_clock::now();
    lastLeft_ = SIZE_MAX;
    writeEvents_.clear();  // their owner has closed them
    keepInherited_ = false;
    Draining()[device_] = weak_from_this();
    EnsureThread();
    WakeThread();
    return;
  }
  registry.unlock();
  stopThread_ = true;
  if (thread_.joinable()) {
    WakeThread();
    lock.unlock();
    thread_.join();
  }
  // A call still in progress on another thread keeps the descriptor a moment
  // longer; the device is free for the next open now.
  ioctl(fd_, TIOCNXCL);
  flock(fd_, LOCK_UN);
}

std::shared_ptr<SerialPort> SerialPort::HandOver() {
  if (!closed_ || hungUp_ || handedOver_ || lingering_ == nullptr) return nullptr;
  // A new object on a duplicate of the descriptor: calls still in progress
  // on the old handle find the old object closed. The duplicate shares the
  // open file and with it the lock.
  const int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  std::shared_ptr<SerialPort> next(new SerialPort(fd));
  next->waiterWakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (next->waiterWakeFd_ < 0) {
    next->handedOver_ = true;  // its destructor must leave the device as it is
    return nullptr;
  }
  next->shadow_ = shadow_;
  next->device_ = device_;
  next->countsKnown_ = countsKnown_;
  std::copy(std::begin(errorCounts_), std::end(errorCounts_), std::begin(next->errorCounts_));
  next->queue_ = std::move(queue_);
  next->queueHead_ = queueHead_;
  next->inherited_ = next->queue_.size();
  next->keepInherited_ = true;
  queue_.clear();
  queueHead_ = 0;
  if (!next->queue_.empty()) {
    next->EnsureThread();
    next->WakeThread();
  }
  handedOver_ = true;
  WakeThread();  // the old I/O thread lets go of the old object and ends
  return next;
}

void SerialPort::EnsureThread() {
  if (thread_.joinable()) return;
  if (wakeFd_ < 0) wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

void SerialPort::WakeThread() {
  if (wakeFd_ >= 0) Poke(wakeFd_);
}

void SerialPort::WakeWaiter() {
  Poke(waiterWakeFd_);
}

void SerialPort::CompleteWait(bool fromWaiter) {
  if (waitEvent_ == nullptr) return;
  if (auto event = Handles().FindAs<EventObject>(waitEvent_)) {
    event->SetWaitHook(nullptr);
    event->Set();
  }
  waitEvent_ = nullptr;
  if (!fromWaiter) WakeWaiter();
}

void SerialPort::WaitInline(DWORD milliseconds) {
  pollfd fds[2] = {{waiterWakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
  {
    std::lock_guard lock(mutex_);
    if (waitEvent_ == nullptr) return;
    if ((mask_ & EV_RXCHAR) == 0) fds[1].fd = -1;
  }
  int timeout =
      milliseconds == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(milliseconds, INT_MAX));
  bool lines = false;
  {
    std::lock_guard lock(mutex_);
    lines = (mask_ & kLineEvents) != 0;
  }
  if (lines && (timeout < 0 || timeout > kLinePollMs)) timeout = kLinePollMs;
  const int n = ::poll(fds, 2, timeout);
  if (n == 0 && lines) {
    std::lock_guard lock(mutex_);
    if (waitEvent_ != nullptr && LinesChanged()) CompleteWait(true);
    return;
  }
  if (n <= 0) return;
  // A poke left from an earlier wait only costs one more round.
  if (fds[0].revents != 0) Drain(waiterWakeFd_);
  std::lock_guard lock(mutex_);
  if (waitEvent_ == nullptr) return;
  const short re = fds[1].revents;
  if ((re & (POLLIN | POLLHUP | POLLERR)) != 0) Fill();
  if ((re & (POLLHUP | POLLERR | POLLNVAL)) != 0) hungUp_ = true;
  if (((mask_ & EV_RXCHAR) != 0 && input_.Size() > 0) || hungUp_ || LinesChanged())
    CompleteWait(true);
}

bool SerialPort::LinesChanged() {
  if ((mask_ & kLineEvents) == 0 || hungUp_) return false;
  DWORD now = 0;
  return ReadLines(fd_, now) && now != linesReported_;
}

void SerialPort::CompleteWrites() {
  for (HANDLE h : writeEvents_) SignalEvent(h, true);
  writeEvents_.clear();
}

void SerialPort::Fill() {
  if (closed_ || hungUp_) return;
  // A device that fails to read (a pty whose far end closed, a removed
  // adapter) is gone for good.
  if (input_.FillFrom(fd_) != 0) hungUp_ = true;
}

bool SerialPort::FlushQueue() {
  while (!queue_.empty()) {
    auto& front = queue_.front();
    const ssize_t r = ::write(fd_, front.data() + queueHead_, front.size() - queueHead_);
    deviceMayHoldOutput_ = true;
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN;
    }
    queueHead_ += static_cast<std::size_t>(r);
    if (queueHead_ == front.size()) {
      queue_.pop_front();
      queueHead_ = 0;
      if (inherited_ > 0) --inherited_;
    }
  }
  return true;
}

void SerialPort::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (handedOver_) {
      auto self = std::move(lingering_);
      lock.unlock();
      self.reset();  // may destroy this object: touch nothing after
      return;
    }
    if (stopThread_) break;
    const bool draining = closed_ && lingering_ != nullptr;
    if (draining && DrainOver()) {
      if (FinishDrain(lock)) return;  // this object may be gone: touch nothing
      continue;                       // taken over meanwhile
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, 0, 0}};
    if (!queue_.empty()) fds[1].events |= POLLOUT;
    // Hang-ups are reported whatever is asked for: leave the device out
    // while nothing waits on it.
    if (fds[1].events == 0) fds[1].fd = -1;
    const int timeout = draining ? kDrainPollMs : -1;
    lock.unlock();
    const int n = ::poll(fds, 2, timeout);
    lock.lock();
    if (n <= 0) continue;  // EINTR, or time to look at the drain again
    if (fds[0].revents != 0) Drain(wakeFd_);
    const short re = fds[1].revents;
    if ((re & (POLLHUP | POLLERR | POLLNVAL)) != 0) hungUp_ = true;
    if (hungUp_) CompleteWait();
    if ((re & POLLOUT) != 0 && !FlushQueue()) hungUp_ = true;
    if (hungUp_) {
      queue_.clear();
      queueHead_ = 0;
      inherited_ = 0;
    }
    if (queue_.empty()) CompleteWrites();
  }
  CompleteWrites();
}

bool SerialPort::DrainOver() {
  if (hungUp_) return true;
  int held = 0;
  if (ioctl(fd_, TIOCOUTQ, &held) != 0) held = 0;
  std::size_t left = static_cast<std::size_t>(std::max(held, 0));
  for (const auto& chunk : queue_) left += chunk.size();
  left -= queueHead_;
  if (left == 0) return true;
  const auto now = std::chrono::steady_clock::now();
  if (left != lastLeft_) {
    lastLeft_ = left;
    progressAt_ = now;
  }
  if (now - progressAt_ < kStall && now - closedAt_ < kDrainLimit) return false;
  // Out of time: the rest is dropped, the device's buffer too, so that
  // letting go of the device does not wait for it.
  queue_.clear();
  queueHead_ = 0;
  inherited_ = 0;
  tcflush(fd_, TCOFLUSH);
  return true;
}

bool SerialPort::FinishDrain(std::unique_lock<std::mutex>& lock) {
  // The registry comes first in the lock order.
  lock.unlock();
  std::unique_lock registry(DrainingMutex());
  lock.lock();
  if (handedOver_) return false;
  auto it = Draining().find(device_);
  if (it != Draining().end() && it->second.lock().get() == this) Draining().erase(it);
  CompleteWrites();
  ioctl(fd_, TIOCNXCL);
  flock(fd_, LOCK_UN);
  auto self = std::move(lingering_);
  lock.unlock();
  registry.unlock();
  self.reset();
  return true;
}

BOOL SerialPort::GetState(DCB& dcb) {
  KernelTermios t;
  if (int err = GetKernelTermios(fd_, t)) return FailErrno(err);
  std::lock_guard lock(mutex_);
  dcb = DcbFromTermios(t, shadow_);
  return TRUE;
}

BOOL SerialPort::SetState(const DCB& dcb) {
  std::lock_guard lock(mutex_);
  KernelTermios old;
  if (int err = GetKernelTermios(fd_, old)) return FailErrno(err);
  auto wanted = TermiosFromDcb(dcb, old);
  if (!wanted) return Fail(ERROR_INVALID_PARAMETER);
  if (int err = SetKernelTermios(fd_, *wanted)) return FailErrno(err);
  // The kernel accepts what a driver silently drops; only a read-back tells.
  KernelTermios actual;
  if (GetKernelTermios(fd_, actual) != 0 || !SettingsTaken(*wanted, actual)) {
    SetKernelTermios(fd_, old);
    return Fail(ERROR_INVALID_PARAMETER);
  }
  shadow_ = dcb;
  return TRUE;
}

BOOL SerialPort::Purge(DWORD flags) {
  std::lock_guard lock(mutex_);
  const bool keep = std::exchange(keepInherited_, false);
  if ((flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0) {
    if (keep && inherited_ > 0) {
      queue_.resize(inherited_);
    } else {
      queue_.clear();
      queueHead_ = 0;
      inherited_ = 0;
    }
    if (queue_.empty()) CompleteWrites();
  }
  // What an earlier session left in the device's buffer goes out too.
  if ((flags & PURGE_TXCLEAR) != 0 && !keep && tcflush(fd_, TCOFLUSH) != 0) return FailErrno(errno);
  if ((flags & PURGE_RXCLEAR) != 0) {
    input_.Clear();
    if (tcflush(fd_, TCIFLUSH) != 0) return FailErrno(errno);
  }
  return TRUE;
}

BOOL SerialPort::SetMask(DWORD mask) {
  std::lock_guard lock(mutex_);
  mask_ = mask;
  CompleteWait();  // a pending wait ends when the mask changes
  return TRUE;
}

BOOL SerialPort::WaitEvent(DWORD* mask, OVERLAPPED* overlapped) {
  if (overlapped == nullptr || overlapped->hEvent == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (waitEvent_ != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  // One poll tells both whether bytes wait and whether the device hung up;
  // the device is read only when it has something.
  pollfd p{fd_, POLLIN, 0};
  const short re = ::poll(&p, 1, 0) > 0 ? p.revents : 0;
  if ((mask_ & EV_RXCHAR) != 0) {
    if (input_.Size() == 0 && (re & (POLLIN | POLLHUP | POLLERR)) != 0) Fill();
    if (input_.Size() > 0) {
      if (mask != nullptr) *mask = EV_RXCHAR;
      SignalEvent(overlapped->hEvent, true);
      return TRUE;
    }
  }
  if ((re & (POLLHUP | POLLERR | POLLNVAL)) != 0) hungUp_ = true;
  if (hungUp_) return Fail(ERROR_GEN_FAILURE);
  if (LinesChanged()) {
    if (mask != nullptr) *mask = mask_ & kLineEvents;
    SignalEvent(overlapped->hEvent, true);
    return TRUE;
  }
  auto event = Handles().FindAs<EventObject>(overlapped->hEvent);
  if (!event) return Fail(ERROR_INVALID_HANDLE);
  if (mask != nullptr) *mask = 0;
  event->Reset();
  event->SetWaitHook(std::make_shared<Waiter>(weak_from_this(), event));
  // Whoever waits on the event watches the device (see Waiter).
  waitEvent_ = overlapped->hEvent;
  return Fail(ERROR_IO_PENDING);
}

BOOL SerialPort::ClearError(DWORD* errors, COMSTAT* stat) {
  int outQueue = 0;
  std::lock_guard lock(mutex_);
  // The device's own output buffer is asked only while it may hold bytes:
  // a reader that never writes costs no ioctl per chunk.
  if (deviceMayHoldOutput_) {
    if (ioctl(fd_, TIOCOUTQ, &outQueue) != 0) return FailErrno(errno);
    deviceMayHoldOutput_ = outQueue > 0;
  }
  if (input_.Size() == 0) Fill();
  const std::size_t inQueue = input_.Size();
  for (const auto& chunk : queue_) outQueue += static_cast<int>(chunk.size());
  outQueue -= static_cast<int>(queueHead_);
  DWORD found = 0;
  std::uint32_t counts[4];
  if (countsKnown_ && ReadCounts(fd_, counts)) {
    static constexpr DWORD kBits[4] = {CE_OVERRUN, CE_RXPARITY, CE_FRAME, CE_BREAK};
    for (int i = 0; i < 4; ++i)
      if (counts[i] != errorCounts_[i]) found |= kBits[i];
    std::copy(std::begin(counts), std::end(counts), std::begin(errorCounts_));
  }
  if (errors != nullptr) *errors = found;
  if (stat != nullptr) {
    *stat = COMSTAT{};
    stat->cbInQue = static_cast<DWORD>(inQueue);
    stat->cbOutQue = static_cast<DWORD>(outQueue);
  }
  return TRUE;
}

BOOL SerialPort::Read(void* buffer, DWORD toRead, DWORD* read) {
  if (read != nullptr) *read = 0;
  if (toRead == 0) return TRUE;
  std::lock_guard lock(mutex_);
  if (input_.Size() < toRead) Fill();
  const std::size_t n = input_.Take(static_cast<BYTE*>(buffer), toRead);
  // Nothing queued: a read that would have to wait counts as failed.
  if (n == 0) return Fail(hungUp_ ? ERROR_GEN_FAILURE : ERROR_IO_PENDING);
  if (read != nullptr) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL SerialPort::Write(const void* buffer, DWORD toWrite, DWORD* written, OVERLAPPED* overlapped) {
  if (written != nullptr) *written = 0;
  std::lock_guard lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  if (hungUp_) return Fail(ERROR_GEN_FAILURE);
  const auto* bytes = static_cast<const BYTE*>(buffer);
  DWORD sent = 0;
  if (queue_.empty()) {
    while (sent < toWrite) {
      const ssize_t r = ::write(fd_, bytes + sent, toWrite - sent);
      deviceMayHoldOutput_ = true;
      if (r < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) break;
        return FailErrno(errno);
      }
      sent += static_cast<DWORD>(r);
    }
    if (sent == toWrite) {
      if (written != nullptr) *written = sent;
      if (overlapped != nullptr) SignalEvent(overlapped->hEvent, true);
      return TRUE;
    }
  }
  // The rest goes out in the background, after whatever is queued already.
  queue_.emplace_back(bytes + sent, bytes + toWrite);
  if (overlapped != nullptr && overlapped->hEvent != nullptr) {
    SignalEvent(overlapped->hEvent, false);
    if (std::find(writeEvents_.begin(), writeEvents_.end(), overlapped->hEvent) ==
        writeEvents_.end())
      writeEvents_.push_back(overlapped->hEvent);
  }
  EnsureThread();
  WakeThread();
  return Fail(ERROR_IO_PENDING);
}

BOOL SerialPort::Escape(DWORD function) {
  std::lock_guard lock(mutex_);
  if (closed_) return Fail(ERROR_INVALID_HANDLE);
  int request = 0;
  int bits = 0;
  switch (function) {
    case SETDTR:
    case CLRDTR:
      request = function == SETDTR ? TIOCMBIS : TIOCMBIC;
      bits = TIOCM_DTR;
      break;
    case SETRTS:
    case CLRRTS:
      request = function == SETRTS ? TIOCMBIS : TIOCMBIC;
      bits = TIOCM_RTS;
      break;
    case SETBREAK:
      return ioctl(fd_, TIOCSBRK) == 0 ? TRUE : Fail(LineError(errno));
    case CLRBREAK:
      return ioctl(fd_, TIOCCBRK) == 0 ? TRUE : Fail(LineError(errno));
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
  return ioctl(fd_, request, &bits) == 0 ? TRUE : Fail(LineError(errno));
}

BOOL SerialPort::ModemStatus(DWORD* status) {
  if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  DWORD now = 0;
  if (!ReadLines(fd_, now)) return Fail(LineError(errno));
  linesReported_ = now;
  *status = now;
  return TRUE;
}

}  // namespace quorlink::platform::posix
