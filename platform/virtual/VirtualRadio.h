// The virtual Bluetooth radio: a Bluetooth provider for machines without
// Bluetooth hardware. Radios are made by programs, RFCOMM links are kernel
// stream sockets (Unix domain on POSIX, loopback TCP on Windows; see each
// OS's VirtualRadioLinks.h), and processes meet in a private per-user
// directory (VirtualRadioStore.h), so one process can listen while another
// connects. It is chosen explicitly with Enable and never reports itself as
// hardware.
//
// Everything here is thread-safe. Errors are errno values; the Winsock
// backends map them to their own codes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorlink/platform/Types.h"
#include "platform/virtual/VirtualRadioStore.h"

namespace quorlink::platform::vradio {

// Until enabled, the Bluetooth calls of this process find no provider.
void Enable(bool on);
bool Enabled();

// The directory where processes meet. Empty selects the default: on POSIX
// $XDG_RUNTIME_DIR/quorlink-vradio, else /tmp/quorlink-<uid>; on Windows
// %LOCALAPPDATA%\quorlink-vradio, else %TEMP%\quorlink-vradio.
void SetRendezvousDirectory(const std::string& path);
// Creates the directory (closed to others) on first use; refuses one that is not a
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
  store::Lock lock_;
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

// A channel of a local radio held by a bound socket; released (its entry
// and the link's names removed) on destruction.
class ChannelClaim {
 public:
  ChannelClaim() = default;
  ~ChannelClaim();
  ChannelClaim(const ChannelClaim&) = delete;
  ChannelClaim& operator=(const ChannelClaim&) = delete;
  std::uint64_t Address() const { return address_; }
  std::uint32_t Channel() const { return channel_; }
  bool Held() const { return lock_.Held(); }
  const store::Dir& Directory() const { return dir_; }
  // The channel's private entry, read by connecting processes (the
  // listening port and the token a link must present, on Windows).
  bool Publish(const std::string& text) { return lock_.Write(text); }
  // A name of the directory removed when the claim ends (a socket's).
  void RemoveOnRelease(std::string name) { companion_ = std::move(name); }
  // Gives the channel back now.
  void Release();

 private:
  friend int ClaimChannel(std::uint64_t, std::uint32_t, ChannelClaim&,
                          const std::function<int(ChannelClaim&)>&);
  std::uint64_t address_ = 0;
  std::uint32_t channel_ = 0;
  store::Dir dir_;
  store::Lock lock_;
  std::string companion_;
};

// Claims a channel of a local radio (outside 1..30: the lowest free one) and
// lets `attach` bind the link's socket to it while the claim is held; an
// error from attach gives the channel back. 0 or an errno value: EADDRINUSE
// when taken, EADDRNOTAVAIL when the radio is not local, EINVAL when the
// claim is held already.
int ClaimChannel(std::uint64_t radio, std::uint32_t channel, ChannelClaim& claim,
                 const std::function<int(ChannelClaim&)>& attach);
// "<radio>-<channel>", the stem of a channel's names in the directory.
std::string ChannelName(std::uint64_t radio, std::uint32_t channel);
// The private entry of a channel somebody holds; nullopt when nobody does.
std::optional<std::string> ChannelEntry(std::uint64_t radio, std::uint32_t channel);
// True while some process has a radio with the address.
bool RadioIsLive(std::uint64_t address);

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

}  // namespace quorlink::platform::vradio
