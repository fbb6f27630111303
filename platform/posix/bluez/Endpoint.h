// One Winsock socket served by BlueZ. A listening socket's descriptor is the
// receiving end of a datagram pair that Profile1.NewConnection feeds with
// the links bluetoothd hands over (one descriptor per datagram), so the
// socket backend's FD_ACCEPT and accept work on it unchanged. A connecting
// socket's descriptor is replaced (dup3) by the link once it is up.
// Main thread only; closesocket drops the endpoint before the descriptor.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "quorlink/platform/Types.h"

namespace quorlink::platform::posix::bluez {

class Endpoint {
 public:
  // The outcome of a connect as a Winsock code (0: connected, the socket's
  // descriptor now carries the link).
  using Done = std::function<void(int wsaError)>;

  // Null in a build without the provider.
  static std::shared_ptr<Endpoint> Create(int fd);
  virtual ~Endpoint() = default;

  // Results are Winsock codes (0: done).
  // radio 0 takes the first powered adapter; a port outside 1..30 takes the
  // channel the kernel would give "any channel" (Linux picks it at listen,
  // so it is asked here, where the record's channel has to be known).
  virtual int Bind(std::uint64_t radio, std::uint32_t port, std::uint64_t& boundRadio,
                   std::uint32_t& channel) = 0;
  // Links handed to the bound channel's profile queue on the descriptor from
  // here on; registers a bare profile when no record was published.
  virtual int Listen() = 0;
  // The next queued link; WSAEWOULDBLOCK when none waits and nonBlocking.
  virtual int Accept(bool nonBlocking, int& link, std::uint64_t& peer) = 0;
  // channel 0: Device1.ConnectProfile(class) with a client profile; else a
  // kernel RFCOMM socket. 0 when connected at once (blocking), WSAEWOULDBLOCK
  // when done will run later from the main loop (never from in here), else
  // the failure.
  virtual int Connect(std::uint64_t local, std::uint64_t remote, std::uint32_t channel,
                      const GUID& serviceClass, bool nonBlocking, Done done) = 0;
  // An accepted or connected link: bluetoothd leaving ends it.
  virtual void Adopt() = 0;
  // The adapter a connected link went out of; 0 when not known.
  virtual std::uint64_t LocalRadio() const = 0;
};

struct ServiceRecord {
  std::uint64_t radio = 0;
  std::uint32_t channel = 0;
  GUID serviceClass{};
  std::string name;
  std::string comment;
};
// ProfileManager1.RegisterProfile with the record's class, name, comment and
// channel, feeding the socket bound to that channel. A Winsock code.
int Publish(const ServiceRecord& record);
// UnregisterProfile; WSASERVICE_NOT_FOUND when nothing was published there.
int Unpublish(std::uint64_t radio, std::uint32_t channel, const GUID& serviceClass);

// The Winsock code of a BlueZ or D-Bus error (name and message), and of a
// kernel RFCOMM errno: the one table of the provider's error mappings.
int WsaErrorFromBluez(const std::string& name, const std::string& message);
int WsaErrorFromRfcomm(int err);

// "00001101-0000-1000-8000-00805F9B34FB" form of a service class.
std::string UuidText(const GUID& guid);

// Device1.Pair with this process's "NoInputNoOutput" agent registered; the
// answer comes later (done gets a Winsock code). Returns a code when the
// pairing cannot start.
int Pair(std::uint64_t address, std::function<void(int wsaError)> done);

// This process's unique name on the bus (tests hand links to its profiles).
std::string UniqueName();

}  // namespace quorlink::platform::posix::bluez
