// Windows has no pty: the cable is two COM ports joined outside the program
// (a null-modem pair such as com0com on Windows; under Wine two COM links to
// a pty pair joined by tests/wine/pty_cable, which cmake/wine-run.sh sets
// up), named by
// QUORLINK_DEMO_COM_PAIR=COMa:COMb. The library opens COMa; the demo drives
// COMb as the device, with plain blocking Win32 calls.
#include "tools/DemoCable.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>

#include "quorlink/platform/Serial.h"

namespace quorlink::tools {

namespace {

constexpr const char* kPairVariable = "QUORLINK_DEMO_COM_PAIR";

class ComPairCable final : public DemoCable {
 public:
  ComPairCable(unsigned port, unsigned remote, HANDLE device)
      : port_(port), remote_(remote), device_(device) {}
  ~ComPairCable() override { ::CloseHandle(device_); }
  unsigned PortNumber() const override { return port_; }
  std::string Describe() const override {
    return "Two joined COM ports play the cable: the library opens COM" + std::to_string(port_) +
           ", the demo drives COM" + std::to_string(remote_) + ".";
  }
  bool Write(const std::string& bytes) override {
    DWORD done = 0;
    return ::WriteFile(device_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
           done == bytes.size();
  }
  std::vector<std::uint8_t> Read(std::size_t size, int timeoutMs) override {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
      std::uint8_t buf[256];
      DWORD n = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - got.size(), sizeof buf));
      if (!::ReadFile(device_, buf, want, &n, nullptr)) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

 private:
  unsigned port_;
  unsigned remote_;
  HANDLE device_;
};

}  // namespace

std::unique_ptr<DemoCable> OpenDemoCable(std::string& why) {
  const char* pair = std::getenv(kPairVariable);
  const std::string text = pair != nullptr ? pair : "";
  const auto colon = text.find(':');
  const auto port = platform::ComPortNumber(text.substr(0, colon));
  const auto remote =
      colon == std::string::npos ? std::nullopt : platform::ComPortNumber(text.substr(colon + 1));
  if (!port || !remote || *port == 0 || *remote == 0 || *port == *remote) {
    why = std::string("Windows has no pty pair: set ") + kPairVariable +
          "=COMa:COMb to two COM ports joined by a null-modem cable (under Wine, "
          "cmake/wine-run.sh joins two with tests/wine/pty_cable)";
    return nullptr;
  }
  const std::string name = "\\\\.\\COM" + std::to_string(*remote);
  HANDLE device = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    why = "cannot open COM" + std::to_string(*remote) + " (error " +
          std::to_string(::GetLastError()) + ")";
    return nullptr;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ::GetCommState(device, &dcb);
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  ::SetCommState(device, &dcb);
  // A read returns what came within 50 ms, so Read keeps to its deadline.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = 50;
  ::SetCommTimeouts(device, &timeouts);
  return std::make_unique<ComPairCable>(*port, *remote, device);
}

}  // namespace quorlink::tools
