// A connect by service class: Device1.ConnectProfile, bluetoothd finding the
// channel in the peer's SDP record and handing the link over.
#include <poll.h>
#include <quorlink/bluetooth/QuorBluetoothConnection.h>
#include <sys/socket.h>
#include <unistd.h>

#include "lab/bluetooth/LabBluetooth.h"

namespace quorlink::testing::lab {
namespace {

// A kernel RFCOMM server socket on hci0's channel, without bluetoothd: the
// device end of a connect by class when no profile of this machine holds it.
class KernelServer {
 public:
  explicit KernelServer(int channel) {
    fd_ = ::socket(31, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 3);
    struct {
      sa_family_t family;
      std::uint8_t address[6];
      std::uint8_t channel;
    } a{31, {}, static_cast<std::uint8_t>(channel)};
    for (int i = 0; i < 6; ++i) a.address[i] = static_cast<std::uint8_t>(kRadio >> (8 * i));
    if (fd_ >= 0 &&
        (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 1) != 0)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~KernelServer() {
    if (link_ >= 0) ::close(link_);
    if (fd_ >= 0) ::close(fd_);
  }
  KernelServer(const KernelServer&) = delete;
  KernelServer& operator=(const KernelServer&) = delete;
  bool Listening() const { return fd_ >= 0; }
  // The accepted link, once there is one; -1 before.
  int Link() {
    if (link_ < 0) link_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return link_;
  }

 private:
  int fd_ = -1, link_ = -1;
};

// bluetoothd reads a device's records once, when it first links to it, and
// connects by class only to a service it saw there: bluetooth.sh runs the
// LabBluetoothFirst cases before any other case has linked the radios.
class LabBluetoothFirst : public LabBluetooth {};

// No listener of this machine holds the class: the record is sdptool's, the
// server a plain kernel socket. The library's client profile is the only one
// for the class, and the link carries bytes both ways.
TEST_F(LabBluetoothFirst, ConnectByClassFindsTheChannelInTheRecordAndCarriesBytes) {
  constexpr int kChannel = 22;
  KernelServer server(kChannel);
  ASSERT_TRUE(server.Listening());
  const std::string added = Shell("sdptool add --channel=22 SP");
  std::string handle;
  for (const auto& r : Browse())
    if (r.channel == kChannel) handle = r.handle;
  ASSERT_FALSE(handle.empty()) << added;

  std::vector<std::string> events;
  Transport client = NewTransport(events);
  client->SetAddress(kRadioText);
  client->SetService("SerialPortServiceClass");
  client->Connect();
  ASSERT_TRUE(PumpUntil(
      [&] { return (server.Link() >= 0 && client->ConnectionCount() == 1) || !errors.empty(); },
      30000));
  ASSERT_TRUE(errors.empty()) << errors[0];
  static_cast<TQuorBluetoothConnection&>(*client->GetConnections(0))
      .Write(TQuorByteArray{'u', 'p'});
  std::string got;
  EXPECT_TRUE(PumpUntil([&] {
    char buffer[16];
    const ssize_t n = ::recv(server.Link(), buffer, sizeof buffer, 0);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    return got.size() >= 2;
  }));
  EXPECT_EQ(got, "up");
  ASSERT_EQ(::send(server.Link(), "down", 4, MSG_NOSIGNAL), 4);
  EXPECT_TRUE(PumpUntil([&] { return Count(events, "read:down") == 1; }));
  client->Close();
  EXPECT_EQ(Count(events, "disconnect"), 1);
  Shell("sdptool del " + handle);
}

}  // namespace
}  // namespace quorlink::testing::lab
