#include "bluetooth/QuorBluetoothDrain.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "platform/Winsock.h"

namespace quorlink {

namespace bluetooth_detail {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kPiece = 64 * 1024;
constexpr milliseconds kFirstPause{1};
constexpr milliseconds kLongestPause{50};

std::atomic<milliseconds::rep> stallLimitMs{10000};

// The socket is non-blocking (it had a notification request), and Winsock
// offers no portable wait on one socket alone: a short, growing pause
// between refused sends keeps the thread idle while the peer is slow.
void Send(SOCKET socket, const TQuorByteArray& bytes, std::size_t at) {
  auto& winsock = platform::Winsock();
  auto lastProgress = Clock::now();
  milliseconds pause = kFirstPause;
  while (at < bytes.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - at, kPiece));
    const int n = winsock.send(socket, reinterpret_cast<const char*>(&bytes[at]), chunk, 0);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
      lastProgress = Clock::now();
      pause = kFirstPause;
      continue;
    }
    if (n == 0 || winsock.WSAGetLastError() != WSAEWOULDBLOCK) return;  // the peer failed
    if (Clock::now() - lastProgress >= milliseconds(stallLimitMs.load())) return;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, kLongestPause);
  }
}

// Every drain of the process, so that a program can wait for them and none
// is left running when the process ends.
class DrainSet {
 public:
  ~DrainSet() { Wait(milliseconds::max()); }

  void Start(SOCKET socket, TQuorByteArray bytes, std::size_t from) {
    std::lock_guard lock(mutex_);
    ReapLocked();
    auto entry = drains_.emplace(drains_.end());
    try {
      entry->thread = std::thread([this, entry, socket, data = std::move(bytes), from] {
        Send(socket, data, from);
        auto& winsock = platform::Winsock();
        winsock.closesocket(socket);
        winsock.WSACleanup();
        std::lock_guard done(mutex_);
        entry->finished = true;
        changed_.notify_all();
      });
    } catch (...) {
      drains_.erase(entry);
      throw;
    }
  }

  bool Wait(milliseconds limit) {
    std::unique_lock lock(mutex_);
    auto allFinished = [this] {
      return std::all_of(drains_.begin(), drains_.end(), [](const Drain& d) { return d.finished; });
    };
    bool done = true;
    if (limit == milliseconds::max()) {
      changed_.wait(lock, allFinished);
    } else {
      done = changed_.wait_for(lock, limit, allFinished);
    }
    ReapLocked();
    return done;
  }

  std::size_t Running() {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(drains_.begin(), drains_.end(), [](const Drain& d) { return !d.finished; }));
  }

 private:
  struct Drain {
    std::thread thread;
    bool finished = false;
  };

  // A finished thread has only its return left: joining it is immediate.
  void ReapLocked() {
    for (auto it = drains_.begin(); it != drains_.end();) {
      if (it->finished) {
        it->thread.join();
        it = drains_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::list<Drain> drains_;
};

DrainSet& Drains() {
  static DrainSet drains;
  return drains;
}

}  // namespace

void StartDrain(SOCKET socket, TQuorByteArray bytes, std::size_t from) noexcept {
  auto& winsock = platform::Winsock();
  WSADATA data;
  if (winsock.WSAStartup(0x0202, &data) != 0) {
    winsock.closesocket(socket);
    return;
  }
  try {
    Drains().Start(socket, std::move(bytes), from);
  } catch (...) {
    // No thread: the bytes cannot leave without blocking the caller.
    winsock.closesocket(socket);
    winsock.WSACleanup();
  }
}

milliseconds SetDrainStallLimit(milliseconds limit) {
  return milliseconds(stallLimitMs.exchange(limit.count()));
}

std::size_t RunningDrains() {
  return Drains().Running();
}

}  // namespace bluetooth_detail

bool WaitForBluetoothDrains(std::chrono::milliseconds limit) {
  return bluetooth_detail::Drains().Wait(limit);
}

}  // namespace quorlink
