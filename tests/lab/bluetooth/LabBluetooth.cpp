#include "lab/bluetooth/LabBluetooth.h"

#include <poll.h>
#include <quorlink/platform/Messages.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace quorlink::testing::lab {

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::Messages().ProcessMessage(10);
  }
  return true;
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

namespace {
std::string After(const std::string& line, const std::string& key) {
  const auto at = line.find(key);
  return at == std::string::npos ? std::string() : line.substr(at + key.size());
}
}  // namespace

// sdptool's text: a record starts at "Service Name:" or "Service RecHandle:"
// (whichever comes first), its class UUIDs follow "Service Class ID List:".
std::vector<SdpRecord> Browse(const std::string& address, const std::string& from) {
  std::vector<SdpRecord> records;
  const std::string text = Shell("timeout 20 sdptool -i " + from + " browse " + address);
  bool inClasses = false, open = false;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const bool begins =
        line.rfind("Service Name:", 0) == 0 || line.rfind("Service RecHandle:", 0) == 0;
    if (begins && !open) {
      records.emplace_back();
      open = true;
    }
    if (line.empty()) open = false;
    if (records.empty()) continue;
    SdpRecord& r = records.back();
    if (line.rfind("Service Name: ", 0) == 0) r.name = After(line, "Service Name: ");
    if (line.rfind("Service RecHandle: ", 0) == 0) r.handle = After(line, "Service RecHandle: ");
    if (line.rfind("Service Description: ", 0) == 0)
      r.description = After(line, "Service Description: ");
    if (line.rfind("Service Class ID List:", 0) == 0) {
      inClasses = true;
      continue;
    }
    if (inClasses && line.rfind("  ", 0) == 0)
      r.classes += line + "\n";
    else
      inClasses = false;
    if (line.find("Channel: ") != std::string::npos)
      r.channel = std::stoi(After(line, "Channel: "));
  }
  return records;
}

int RecordChannel(const std::string& name) {
  for (const auto& r : Browse())
    if (r.name == name) return r.channel;
  return -1;
}

void ForgetEachOther() {
  for (const char* pair : {"hci0 dev_00_AA_01_01_00_01", "hci1 dev_00_AA_01_00_00_00"}) {
    const std::string text = pair;
    const std::string adapter = text.substr(0, 4), device = text.substr(5);
    Shell("dbus-send --system --print-reply --dest=org.bluez /org/bluez/" + adapter +
          " org.bluez.Adapter1.RemoveDevice objpath:/org/bluez/" + adapter + "/" + device);
  }
}

namespace {
// struct sockaddr_rc of linux/bluetooth/rfcomm.h: the address least
// significant byte first.
struct SockaddrRc {
  sa_family_t family;
  std::uint8_t address[6];
  std::uint8_t channel;
};
SockaddrRc RfcommAddress(std::uint64_t address, int channel) {
  SockaddrRc a{};
  a.family = 31;  // AF_BLUETOOTH
  for (int i = 0; i < 6; ++i) a.address[i] = static_cast<std::uint8_t>(address >> (8 * i));
  a.channel = static_cast<std::uint8_t>(channel);
  return a;
}
}  // namespace

FarLink::FarLink(int channel) {
  // A channel an earlier case's link used may still be closing in the RFCOMM
  // session the two controllers keep: the kernel refuses it for a moment.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (Connect(channel) || error_ != ECONNREFUSED) return;
  }
}

bool FarLink::Connect(int channel) {
  error_ = 0;
  fd_ = ::socket(31, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 3 /* BTPROTO_RFCOMM */);
  if (fd_ < 0) {
    error_ = errno;
    return false;
  }
  SockaddrRc local = RfcommAddress(kPeer, 0), remote = RfcommAddress(kRadio, channel);
  // Non-blocking: bluetoothd hands the link to the library, whose loop runs
  // meanwhile.
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      (::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 &&
       errno != EINPROGRESS)) {
    error_ = errno;
  } else if (!PumpUntil([&] {
               pollfd pfd{fd_, POLLOUT, 0};
               return ::poll(&pfd, 1, 0) > 0;
             })) {
    error_ = ETIMEDOUT;
  } else {
    socklen_t length = sizeof error_;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error_, &length) != 0) error_ = errno;
  }
  if (error_ != 0) {
    ::close(fd_);
    fd_ = -1;
  }
  return error_ == 0;
}

FarLink::~FarLink() {
  if (fd_ >= 0) ::close(fd_);
}

bool FarLink::Send(const std::string& text) const {
  return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

std::string FarLink::Receive(std::size_t count, int timeoutMs) const {
  std::string got;
  PumpUntil(
      [&] {
        char buffer[512];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        return got.size() >= count || n == 0;
      },
      timeoutMs);
  return got;
}

bool FarLink::Ended(int timeoutMs) const {
  return PumpUntil(
      [&] {
        char byte;
        const ssize_t n = ::recv(fd_, &byte, 1, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN);
      },
      timeoutMs);
}

void StopBluetoothd() {
  // Every instance, and gone for good, before a new one may take the bus name.
  Shell("kill -TERM $(pidof bluetoothd)");
  for (int i = 0; i < 100 && !Shell("pidof bluetoothd").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Shell("kill -KILL $(pidof bluetoothd)");
}

bool StartBluetoothd() {
  const std::string out = Shell(Env("QUORLINK_LAB_START_BLUETOOTHD") + "; echo status $?");
  EXPECT_NE(out.find("status 0"), std::string::npos) << out;
  return out.find("status 0") != std::string::npos;
}

void LabBluetooth::SetUp() {
  LAB_REQUIRE("QUORLINK_LAB_RADIO");
  ApplicationHandleException = [this](TObject*) {
    try {
      throw;
    } catch (const EOSError& e) {
      errors.push_back(static_cast<int>(e.ErrorCode));
    } catch (...) {
      errors.push_back(-1);
    }
  };
}

void LabBluetooth::TearDown() {
  platform::Messages().ProcessMessage(0);
  ApplicationHandleException = nullptr;
}

Transport LabBluetooth::NewTransport(std::vector<std::string>& events) {
  Transport t(new TQuorBluetooth(nullptr));
  auto* log = &events;
  t->OnConnect = [log](TQuorCustomConnection*) { log->push_back("connect"); };
  t->OnRead = [log](TQuorCustomConnection*, const TQuorByteArray& b) {
    log->push_back("read:" + std::string(b.begin(), b.end()));
  };
  t->OnDisconnect = [log](TQuorCustomConnection*) { log->push_back("disconnect"); };
  return t;
}

int LabBluetooth::Count(const std::vector<std::string>& events, const std::string& event) {
  int n = 0;
  for (const auto& e : events) n += e == event;
  return n;
}

}  // namespace quorlink::testing::lab
