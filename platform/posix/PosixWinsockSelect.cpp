// WSAAsyncSelect on the POSIX main loop, with Winsock's re-enabling rules:
// an event is posted once and then waits for the call that re-enables it
// (recv for FD_READ, accept for FD_ACCEPT, a blocked send for FD_WRITE);
// FD_CLOSE is posted once, only when nothing is left to read.
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_map>

#include "platform/posix/MainLoop.h"
#include "platform/posix/PosixWinsockSocket.h"

namespace quorlink::platform::posix {

namespace {

constexpr int kRetryIntervalMs = 5;
constexpr int kRetryCount = 2000;  // ten seconds of a full queue

std::mutex tableMutex;
std::unordered_map<SOCKET, std::shared_ptr<WinsockSocket>>& Table() {
  static auto* table = new std::unordered_map<SOCKET, std::shared_ptr<WinsockSocket>>;
  return *table;
}
SOCKET nextHandle = 0x200;

std::uint32_t Interest(const WinsockSocket& s) {
  if (s.window == nullptr || s.closed) return 0;
  std::uint32_t events = 0;
  if (s.state == WinsockSocket::State::Listening) {
    if ((s.mask & FD_ACCEPT) && s.acceptArmed) events |= EPOLLIN;
  } else if (s.state == WinsockSocket::State::Connected) {
    const bool reads = (s.mask & FD_READ) != 0;
    if (reads && s.readArmed) events |= EPOLLIN | EPOLLRDHUP;
    // Without FD_READ the close is announced as soon as the peer ends.
    if (!reads && (s.mask & FD_CLOSE) && !s.closePosted) events |= EPOLLRDHUP;
    if ((s.mask & FD_WRITE) && s.writeArmed) events |= EPOLLOUT;
  }
  return events;
}

void OnReady(const std::weak_ptr<WinsockSocket>& weak, std::uint32_t events);

void UpdateWatchLocked(const std::shared_ptr<WinsockSocket>& s) {
  std::uint32_t wanted = Interest(*s);
  if (wanted == s->watching) return;
  auto& loop = PosixMainLoop();
  if (wanted == 0) {
    // Armed but no longer wanted (a new request, a close): hang-ups are
    // reported whatever is asked, so the descriptor leaves the set.
    loop.Unwatch(s->fd);
    s->registered = false;
  } else if (!s->registered) {
    std::weak_ptr<WinsockSocket> weak = s;
    s->registered =
        loop.Watch(s->fd, wanted | EPOLLONESHOT, [weak](std::uint32_t ev) { OnReady(weak, ev); });
    if (!s->registered) wanted = 0;
  } else if (!loop.Modify(s->fd, wanted | EPOLLONESHOT)) {
    wanted = 0;
  }
  s->watching = wanted;
}

void OnReady(const std::weak_ptr<WinsockSocket>& weak, std::uint32_t events) {
  auto s = weak.lock();
  if (!s) return;
  std::lock_guard lock(s->mutex);
  // The event disarmed the one-shot watch; what is still wanted is re-armed
  // below, or by the call that re-enables it.
  s->watching = 0;
  if (s->state == WinsockSocket::State::Listening) {
    if ((s->mask & FD_ACCEPT) && s->acceptArmed && (events & EPOLLIN)) {
      s->acceptArmed = false;
      PostLocked(*s, FD_ACCEPT, 0);
    }
  } else if (s->state == WinsockSocket::State::Connected) {
    const bool ended = (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
    if ((s->mask & FD_READ) && s->readArmed && (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP))) {
      // Readable without a hang-up means bytes are queued; only after the
      // peer's end does readable say nothing, and the queue is asked.
      int available = 1;
      if (ended && ioctl(s->fd, FIONREAD, &available) != 0) available = 0;
      if (available > 0) {
        s->readArmed = false;
        PostLocked(*s, FD_READ, 0);
      } else if (ended) {
        // Readable with nothing queued: the peer has gone, and every byte
        // before its close has been offered already.
        s->readArmed = false;
        if (!s->closePosted) {
          s->closePosted = true;
          PostLocked(*s, FD_CLOSE, (events & EPOLLERR) ? WSAECONNRESET : 0);
        }
      }
    } else if (!(s->mask & FD_READ) && (s->mask & FD_CLOSE) && !s->closePosted && ended) {
      s->closePosted = true;
      PostLocked(*s, FD_CLOSE, 0);
    }
    if ((s->mask & FD_WRITE) && s->writeArmed && (events & (EPOLLOUT | EPOLLHUP | EPOLLERR))) {
      s->writeArmed = false;
      PostLocked(*s, FD_WRITE, 0);
    }
  }
  UpdateWatchLocked(s);
}

void StopRetryLocked(WinsockSocket& s) {
  if (s.retryTimer < 0) return;
  PosixMainLoop().Unwatch(s.retryTimer);
  close(s.retryTimer);
  s.retryTimer = -1;
}

void OnRetry(const std::weak_ptr<WinsockSocket>& weak) {
  auto s = weak.lock();
  if (!s) return;
  std::lock_guard lock(s->mutex);
  std::uint64_t ticks;
  [[maybe_unused]] auto n = read(s->retryTimer, &ticks, sizeof ticks);
  if (s->state != WinsockSocket::State::Connecting) {
    StopRetryLocked(*s);
    return;
  }
  int err = vradio::ConnectChannel(s->fd, s->localRadio, s->peerRadio, s->peerChannel);
  if (err == EAGAIN && --s->retriesLeft > 0) return;
  StopRetryLocked(*s);
  if (err == 0) {
    s->state = WinsockSocket::State::Connected;
    s->link = std::make_unique<vradio::LinkRecord>(s->localRadio, s->peerRadio);
    PostLocked(*s, FD_CONNECT, 0);
    UpdateWatchLocked(s);
  } else {
    s->state = WinsockSocket::State::Fresh;
    PostLocked(*s, FD_CONNECT, err == EAGAIN ? WSAETIMEDOUT : WsaErrorFromErrno(err));
  }
}

}  // namespace

WinsockSocket::~WinsockSocket() {
  close(fd);
}

std::shared_ptr<WinsockSocket> FindSocket(SOCKET s) {
  std::lock_guard lock(tableMutex);
  auto it = Table().find(s);
  return it == Table().end() ? nullptr : it->second;
}

SOCKET InsertSocket(std::shared_ptr<WinsockSocket> socket) {
  std::lock_guard lock(tableMutex);
  SOCKET handle = nextHandle++;
  socket->handle = handle;
  Table().emplace(handle, std::move(socket));
  return handle;
}

std::shared_ptr<WinsockSocket> RemoveSocket(SOCKET s) {
  std::lock_guard lock(tableMutex);
  auto it = Table().find(s);
  if (it == Table().end()) return nullptr;
  auto socket = std::move(it->second);
  Table().erase(it);
  return socket;
}

std::size_t SocketCount() {
  std::lock_guard lock(tableMutex);
  return Table().size();
}

void PostLocked(WinsockSocket& s, LONG event, int error) {
  if (s.window == nullptr || (s.mask & event) == 0) return;
  const auto param = static_cast<std::uintptr_t>(static_cast<std::uint32_t>(event) |
                                                 (static_cast<std::uint32_t>(error) << 16));
  PosixMainLoop().PostMessage(s.window, s.message, static_cast<WPARAM>(s.handle),
                              static_cast<LPARAM>(param));
}

void SelectLocked(const std::shared_ptr<WinsockSocket>& s, HWND window, UINT message, LONG mask) {
  s->window = mask == 0 ? nullptr : window;
  s->message = message;
  s->mask = mask;
  // A new request starts from Winsock's initial state; FD_CLOSE stays once.
  s->readArmed = s->acceptArmed = s->writeArmed = true;
  UpdateWatchLocked(s);
}

void RearmLocked(const std::shared_ptr<WinsockSocket>& s, LONG event) {
  if (event & FD_READ) s->readArmed = true;
  if (event & FD_ACCEPT) s->acceptArmed = true;
  if (event & FD_WRITE) s->writeArmed = true;
  if (s->window != nullptr) UpdateWatchLocked(s);
}

void ReadTakenLocked(const std::shared_ptr<WinsockSocket>& s, bool filled) {
  // A recv that filled the buffer most likely left more queued: the next
  // FD_READ goes straight to the queue, behind what is already there, and
  // epoll is asked again only after a short or empty recv. One too many
  // costs a recv that would block, which re-arms the watch.
  const bool waiting = s->window != nullptr && !s->closed &&
                       s->state == WinsockSocket::State::Connected && (s->mask & FD_READ) != 0;
  if (filled && waiting && !s->readArmed) {
    PostLocked(*s, FD_READ, 0);
    return;
  }
  RearmLocked(s, FD_READ);
}

void UnselectLocked(WinsockSocket& s) {
  StopRetryLocked(s);
  if (s.registered) PosixMainLoop().Unwatch(s.fd);
  s.registered = false;
  s.watching = 0;
  s.window = nullptr;
  s.mask = 0;
}

void StartConnectRetryLocked(const std::shared_ptr<WinsockSocket>& s) {
  s->retryTimer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (s->retryTimer < 0) {
    s->state = WinsockSocket::State::Fresh;
    PostLocked(*s, FD_CONNECT, WSAENOBUFS);
    return;
  }
  itimerspec period{};
  period.it_interval.tv_nsec = kRetryIntervalMs * 1000000L;
  period.it_value = period.it_interval;
  timerfd_settime(s->retryTimer, 0, &period, nullptr);
  s->retriesLeft = kRetryCount;
  std::weak_ptr<WinsockSocket> weak = s;
  PosixMainLoop().Watch(s->retryTimer, EPOLLIN, [weak](std::uint32_t) { OnRetry(weak); });
}

int WsaErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return 0;
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EINTR:
      return WSAEINTR;
    case EBADF:
      return WSAEBADF;
    case EACCES:
    case EPERM:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return WSAEMFILE;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case ECONNRESET:
    case EPIPE:
      return WSAECONNRESET;
    case ECONNABORTED:
      return WSAECONNABORTED;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ENOTCONN:
      return WSAENOTCONN;
    case EISCONN:
      return WSAEISCONN;
    case ENOBUFS:
    case ENOMEM:
      return WSAENOBUFS;
    case ENAMETOOLONG:
      return WSAENAMETOOLONG;
    case ENOENT:
      return WSASERVICE_NOT_FOUND;
    default:
      return WSAENETDOWN;
  }
}

}  // namespace quorlink::platform::posix
