// Windows: two COM ports that something outside the process joins like a
// null-modem cable (under Wine, pty pairs made by tests/wine/serial-ports.sh),
// listed in QUORLINK_COM_PAIRS as "COM5:COM6,COM7:COM8". A cable takes the
// first pair that no other test process holds (a locked file in the temp
// folder: Wine lets two programs open one COM port), the first port for the
// library, the second as the device end.
#include "tests/comport/SerialCable.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "OsTestSupport.h"

namespace quorlink::testing {

namespace {

std::vector<std::pair<std::string, std::string>> Pairs() {
  std::vector<std::pair<std::string, std::string>> pairs;
  const char* text = std::getenv("QUORLINK_COM_PAIRS");
  std::istringstream in(text ? text : "");
  std::string item;
  while (std::getline(in, item, ',')) {
    const auto colon = item.find(':');
    if (colon != std::string::npos)
      pairs.emplace_back(item.substr(0, colon), item.substr(colon + 1));
  }
  return pairs;
}

// The pair's lock, or INVALID_HANDLE_VALUE when another holds it.
HANDLE TryLock(const std::string& port) {
  char dir[MAX_PATH];
  const DWORD n = ::GetTempPathA(sizeof dir, dir);
  const std::string path = std::string(dir, n) + "quorlink-cable-" + port + ".lock";
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  OVERLAPPED whole{};
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole))
    return file;
  ::CloseHandle(file);
  return INVALID_HANDLE_VALUE;
}

HANDLE OpenPort(const std::string& name, DWORD flags) {
  return ::CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

// One overlapped call, waited for.
template <class Call>
bool Complete(HANDLE device, DWORD& done, Call call) {
  OVERLAPPED ov{};
  ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  bool ok = call(&ov) || (::GetLastError() == ERROR_IO_PENDING &&
                          ::GetOverlappedResult(device, &ov, &done, TRUE));
  if (ok) ::GetOverlappedResult(device, &ov, &done, FALSE);
  ::CloseHandle(ov.hEvent);
  return ok;
}

}  // namespace

struct SerialCable::Ends {
  HANDLE lock = INVALID_HANDLE_VALUE;
  HANDLE device = INVALID_HANDLE_VALUE;
  std::string port;
  ~Ends() {
    if (device != INVALID_HANDLE_VALUE) ::CloseHandle(device);
    if (lock != INVALID_HANDLE_VALUE) ::CloseHandle(lock);
  }
};

SerialCable::SerialCable() : ends_(std::make_unique<Ends>()) {
  const auto pairs = Pairs();
  if (pairs.empty()) throw std::runtime_error("no serial cable: QUORLINK_COM_PAIRS is not set");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::string partner;
  while (ends_->lock == INVALID_HANDLE_VALUE) {
    for (const auto& [port, other] : pairs) {
      ends_->lock = TryLock(port);
      if (ends_->lock == INVALID_HANDLE_VALUE) continue;
      ends_->port = port;
      partner = other;
      break;
    }
    if (ends_->lock != INVALID_HANDLE_VALUE) break;
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("no serial cable: every pair stayed taken");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ends_->device = OpenPort(partner, FILE_FLAG_OVERLAPPED);
  if (ends_->device == INVALID_HANDLE_VALUE)
    throw std::runtime_error("no serial cable: cannot open " + partner);
  // A read returns what has come, or waits at most 20 ms for a first byte.
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 20, 0, 0};
  ::SetCommTimeouts(ends_->device, &timeouts);
  // Whatever an earlier test left goes, at both ends. The joiner between
  // the ports (tests/wine/pty_cable.c) holds bytes of its own that no purge reaches: they
  // are purged as they come, until both ends have stayed empty a while.
  HANDLE library = OpenPort(ends_->port, 0);
  int quiet = 0;
  for (int i = 0; i < 200 && quiet < 5; ++i) {
    COMSTAT device{}, port{};
    DWORD errors = 0;
    ::ClearCommError(ends_->device, &errors, &device);
    if (library != INVALID_HANDLE_VALUE) ::ClearCommError(library, &errors, &port);
    quiet = device.cbInQue == 0 && port.cbInQue == 0 && i > 0 ? quiet + 1 : 0;
    ::PurgeComm(ends_->device, PURGE_RXCLEAR | PURGE_TXCLEAR);
    if (library != INVALID_HANDLE_VALUE) ::PurgeComm(library, PURGE_RXCLEAR | PURGE_TXCLEAR);
    ::Sleep(20);
  }
  if (library != INVALID_HANDLE_VALUE) ::CloseHandle(library);
}

SerialCable::~SerialCable() = default;

const std::string& SerialCable::PortPath() const {
  return ends_->port;
}

bool SerialCable::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD done = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20));
    if (!Complete(ends_->device, done, [&](OVERLAPPED* ov) {
          return ::WriteFile(ends_->device, p, piece, nullptr, ov);
        }))
      return false;
    p += done;
    size -= done;
  }
  return true;
}

std::vector<std::uint8_t> SerialCable::Read(std::size_t count, int timeoutMs) {
  std::vector<std::uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<std::uint8_t> buf(65536);
  OVERLAPPED ov{};
  ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  while (out.size() < count) {
    const DWORD want = static_cast<DWORD>(std::min(buf.size(), count - out.size()));
    ::ResetEvent(ov.hEvent);
    if (!::ReadFile(ends_->device, buf.data(), want, nullptr, &ov) &&
        ::GetLastError() != ERROR_IO_PENDING)
      break;
    // Wine never ends a read waiting for a first byte that does not come,
    // whatever the time-outs say: the wait is bounded here, then cancelled.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const DWORD waitMs = static_cast<DWORD>(std::max<long long>(left.count(), 20));
    if (::WaitForSingleObject(ov.hEvent, waitMs) != WAIT_OBJECT_0) ::CancelIoEx(ends_->device, &ov);
    DWORD done = 0;
    // A cancelled read may still have taken bytes: they count.
    if (!::GetOverlappedResult(ends_->device, &ov, &done, TRUE) &&
        ::GetLastError() != ERROR_OPERATION_ABORTED)
      break;
    out.insert(out.end(), buf.begin(), buf.begin() + done);
    if (done == 0 && std::chrono::steady_clock::now() >= deadline) break;
  }
  ::CloseHandle(ov.hEvent);
  return out;
}

bool SerialCable::Unplug() {
  return false;
}

bool SerialCable::QueueAtPort(const std::vector<std::uint8_t>& bytes) {
  HANDLE library = OpenPort(ends_->port, 0);
  if (library == INVALID_HANDLE_VALUE) return false;
  COMSTAT stat{};
  DWORD errors = 0;
  ::ClearCommError(library, &errors, &stat);
  const std::size_t want = stat.cbInQue + bytes.size();
  bool queued = Write(bytes);
  for (int i = 0; queued && i < 1000; ++i) {
    if (::ClearCommError(library, &errors, &stat) && stat.cbInQue >= want) break;
    ::Sleep(5);
  }
  queued = queued && stat.cbInQue >= want;
  ::CloseHandle(library);
  return queued;
}

std::optional<bool> SerialCable::FreeForOthers() {
  return std::nullopt;
}

std::optional<std::string> SerialCable::Lacks(const std::string& fact) {
  // Under Wine the port is a pty: it carries 8 bits without parity and the
  // rates of the termios table only, and Wine reads back what it kept.
  if (fact == "uncoded rates" && UnderWine())
    return "the port is a pty under Wine: rates without a termios speed code become 38400";
  if (fact == "hardware flow" && UnderWine())
    return "the port is a pty under Wine: an RTS/CTS handshake set does not read back";
  if (fact == "formats" && !UnderWine())
    return "the device end of this cable takes every character format: nothing is refused "
           "for the read-back to catch";
  return std::nullopt;
}

}  // namespace quorlink::testing
