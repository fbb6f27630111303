// The BlueZ endpoint behind a Winsock socket (see Endpoint.h).
#pragma once

#include <systemd/sd-bus.h>

#include <memory>

#include "platform/posix/bluez/Endpoint.h"
#include "platform/posix/bluez/Profiles.h"
#include "platform/posix/bluez/SdpClient.h"

namespace quorlink::platform::posix::bluez {

class EndpointImpl final : public Endpoint {
 public:
  explicit EndpointImpl(int fd);
  ~EndpointImpl() override;
  EndpointImpl(const EndpointImpl&) = delete;
  EndpointImpl& operator=(const EndpointImpl&) = delete;

  int Bind(std::uint64_t radio, std::uint32_t port, std::uint64_t& boundRadio,
           std::uint32_t& channel) override;
  int Listen() override;
  int Accept(bool nonBlocking, int& link, std::uint64_t& peer) override;
  int Connect(std::uint64_t local, std::uint64_t remote, std::uint32_t channel,
              const GUID& serviceClass, bool nonBlocking, Done done) override;
  void Adopt() override { adopted_ = true; }
  std::uint64_t LocalRadio() const override { return local_; }

  // From the profile objects and the bus watch.
  // A link for this endpoint's profile; false to refuse it.
  bool OnLink(Registration* registration, int fd, std::uint64_t peer);
  // bluetoothd left (or the bus went): links end, a connect fails.
  void OnBluezGone();
  void OnConnectReply(sd_bus_message* reply);

  bool Holds(std::uint64_t radio, std::uint32_t channel) const {
    return bound_ && !adopted_ && channel_ == channel && (radio == 0 || radio_ == radio);
  }
  // Makes the datagram pair that queues links before and after listen.
  int MakeQueue();

 private:
  void Finish(int code);
  void StopRfcommWatch();
  int ConnectRfcomm(std::uint64_t local, std::uint64_t remote, std::uint32_t channel,
                    bool nonBlocking);
  // The channel asked of the device's SDP server, then a kernel RFCOMM link.
  int ConnectBySdp(Done done);
  int StartSdp();

  const int fd_;  // the socket's descriptor: not owned
  std::uint64_t radio_ = 0;
  std::uint64_t local_ = 0;  // a connect's adapter, device and class
  std::uint64_t remote_ = 0;
  GUID class_{};
  std::uint32_t channel_ = 0;
  bool bound_ = false;
  bool listening_ = false;
  bool adopted_ = false;
  int feed_ = -1;   // sending end of the link queue
  int queue_ = -1;  // receiving end until listen moves it onto fd_
  Registration* client_ = nullptr;
  sd_bus_slot* call_ = nullptr;
  bool watchingRfcomm_ = false;
  std::unique_ptr<SdpLookup> sdp_;  // the channel asked of the device
  Done done_;
};

}  // namespace quorlink::platform::posix::bluez
