// The virtual Bluetooth radio: a Bluetooth provider for machines without
// Bluetooth hardware. Radios are made by programs, RFCOMM links are kernel
// stream sockets (Unix domain), and processes meet in a private per-user
// directory, so one process can listen while another connects. It is chosen
// explicitly with Enable and never reports itself as hardware.
//
// Everything here is thread-safe. Errors are errno values; the Winsock
// backend maps them to its own codes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace quorlink::platform::posix::vradio {

namespace files {
class Rendezvous;
}

// Until enabled, the Bluetooth calls of this process find no provider.
void Enable(bool on);
bool Enabled();

// The directory where processes meet. Empty selects the default:
// $XDG_RUNTIME_DIR/quorlink-vradio, else /tmp/quorlink-<uid>.
void SetRendezvousDirectory(const std::string& path);
// Creates the directory (mode 0700) on first use; refuses one that is not a
// directory owned by this user and closed to others, or, later, one that no
// longer is the directory first checked. Throws std::system_error.
std::string RendezvousDirectory();

struct RadioInfo {
  std::uint64_t address = 0;
  std::string name;
};

// A radio this process owns, from construction to destruction. Throws
// std::system_error (EADDRINUSE when a live radio has the address already).
class Radio {
 public:
  Radio(std::uint64_t address, std::string name);
  ~Radio();
  Radio(const Radio&) = delete;
  Radio& operator=(const Radio&) = delete;
  std::uint64_t Address() const { return address_; }
  const std::string& Name() const { return name_; }

 private:
  std::uint64_t address_;
  std::string name_;
  std::shared_ptr<const files::Rendezvous> dir_;
  int lockFd_ = -1;
};

// The radios made by this process, oldest first.
std::vector<RadioInfo> LocalRadios();
bool IsLocalRadio(std::uint64_t address);
// Every live radio of every process, by address.
std::vector<RadioInfo> KnownRadios();
std::optional<std::string> RadioName(std::uint64_t address);

// The radio that a socket bound to address 0 uses: the one set here while it
// exists, else the oldest local radio. 0 when the process has none.
std::uint64_t DefaultRadio();
void SetDefaultRadio(std::uint64_t address);

class ScopedDefaultRadio {
 public:
  explicit ScopedDefaultRadio(std::uint64_t address);
  ~ScopedDefaultRadio();
  ScopedDefaultRadio(const ScopedDefaultRadio&) = delete;
  ScopedDefaultRadio& operator=(const ScopedDefaultRadio&) = delete;

 private:
  std::uint64_t previous_;
};

constexpr std::uint32_t kFirstChannel = 1;
constexpr std::uint32_t kLastChannel = 30;

// A channel of a local radio held by a bound socket; released (and its
// rendezvous names and lock file removed) on destruction.
class ChannelClaim {
 public:
  ChannelClaim() = default;
  ~ChannelClaim();
  ChannelClaim(const ChannelClaim&) = delete;
  ChannelClaim& operator=(const ChannelClaim&) = delete;
  std::uint64_t Address() const { return address_; }
  std::uint32_t Channel() const { return channel_; }
  bool Held() const { return lockFd_ >= 0; }

 private:
  friend int BindChannel(int, std::uint64_t, std::uint32_t, ChannelClaim&);
  std::uint64_t address_ = 0;
  std::uint32_t channel_ = 0;
  int lockFd_ = -1;
  std::shared_ptr<const files::Rendezvous> dir_;
};

// Binds a Unix stream socket to a channel of a local radio; a channel
// outside 1..30 picks the lowest free one.
int BindChannel(int fd, std::uint64_t radio, std::uint32_t channel, ChannelClaim& claim);
// Connects a Unix stream socket from a local radio to a remote radio's
// channel. EAGAIN when the listener's queue is full and fd is non-blocking
// (call again); ECONNREFUSED when nothing listens; EHOSTUNREACH when no live
// radio has the address.
int ConnectChannel(int fd, std::uint64_t localRadio, std::uint64_t remoteRadio,
                   std::uint32_t channel);
// Accepts a link; the new descriptor is non-blocking when asked and gives
// the peer's radio.
int AcceptLink(int listenFd, bool nonBlocking, int& newFd, std::uint64_t& peerRadio);

struct ServiceRecord {
  std::uint64_t address = 0;
  std::uint32_t channel = 0;
  GUID serviceClass{};
  std::string name;
  std::string comment;
};

// Records live while their channel is held. EEXIST for a duplicate.
int PublishService(const ServiceRecord& record);
// ENOENT when there is no such record.
int DeleteService(std::uint64_t address, std::uint32_t channel, const GUID& serviceClass);
// The lowest channel of the radio that offers the class.
std::optional<std::uint32_t> FindService(std::uint64_t address, const GUID& serviceClass);
std::vector<ServiceRecord> Services(std::uint64_t address);

// A link between a local radio and a peer, counted while it is open: the
// radio lists the peer as a connected device.
class LinkRecord {
 public:
  LinkRecord(std::uint64_t localRadio, std::uint64_t peerRadio);
  ~LinkRecord();
  LinkRecord(const LinkRecord&) = delete;
  LinkRecord& operator=(const LinkRecord&) = delete;

 private:
  std::uint64_t local_;
  std::uint64_t peer_;
};

// The peers with an open link to the radio, each once, in order of address.
std::vector<std::uint64_t> ConnectedDevices(std::uint64_t localRadio);

}  // namespace quorlink::platform::posix::vradio
