// The RFCOMM channel of a service class, asked of the device's own SDP server
// (L2CAP PSM 1) with ServiceSearchAttribute requests. Used where bluetoothd
// cannot connect by class for us (another program holds the class's profile).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "quorlink/platform/Types.h"

namespace quorlink::platform::posix::bluez {

// A ServiceSearchAttributeRequest for the class, asking only the protocol
// descriptor list; continuation is what the last answer's state carried.
std::vector<std::uint8_t> SdpSearchRequest(const GUID& serviceClass, std::uint16_t transaction,
                                           const std::vector<std::uint8_t>& continuation);
// One answer PDU: appends its part of the attribute lists and sets the
// continuation state (empty: the lists are whole). 0, or a Winsock code for
// an error answer or one that is malformed or not for the transaction.
int ReadSdpAnswer(const std::uint8_t* pdu, std::size_t size, std::uint16_t transaction,
                  std::vector<std::uint8_t>& lists, std::vector<std::uint8_t>& continuation);
// The first RFCOMM channel (1..30) among the records' protocol descriptor
// lists; WSASERVICE_NOT_FOUND when no record has one.
int RfcommChannelOf(const std::vector<std::uint8_t>& lists, std::uint32_t& channel);

// One query in flight on the main loop; done runs from the loop (never from
// Start) with 0 and the channel, or a Winsock code. Destroying it cancels.
class SdpLookup {
 public:
  using Done = std::function<void(int wsaError, std::uint32_t channel)>;
  SdpLookup() = default;
  ~SdpLookup();
  SdpLookup(const SdpLookup&) = delete;
  SdpLookup& operator=(const SdpLookup&) = delete;

  // A Winsock code when the query cannot start.
  int Start(std::uint64_t local, std::uint64_t remote, const GUID& serviceClass, Done done);

 private:
  void OnReady(std::uint32_t events);
  bool Send();
  void Complete(int code, std::uint32_t channel);
  void Stop();

  int fd_ = -1;
  bool watching_ = false;
  bool sent_ = false;
  GUID class_{};
  std::uint16_t transaction_ = 1;
  std::vector<std::uint8_t> lists_, continuation_;
  Done done_;
};

}  // namespace quorlink::platform::posix::bluez
