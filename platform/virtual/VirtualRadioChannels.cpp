// Channels of the virtual radio: a channel is held by locking its entry
// "k-<radio>-<channel>" in the rendezvous directory; the entry carries what
// the OS's links need to reach the listener.
#include <cerrno>

#include "platform/virtual/VirtualRadio.h"
#include "platform/virtual/VirtualRadioStore.h"

namespace quorlink::platform::vradio {

std::string ChannelName(std::uint64_t radio, std::uint32_t channel) {
  return store::Hex48(radio) + "-" + std::to_string(channel);
}

bool RadioIsLive(std::uint64_t address) {
  if (IsLocalRadio(address)) return true;
  const store::Dir dir = store::Directory();
  return dir && store::IsLocked(*dir, "r-" + store::Hex48(address));
}

std::optional<std::string> ChannelEntry(std::uint64_t radio, std::uint32_t channel) {
  const store::Dir dir = store::Directory();
  const std::string name = "k-" + ChannelName(radio, channel);
  if (!dir || !store::IsLocked(*dir, name)) return std::nullopt;
  return store::ReadSmallFile(*dir, name);
}

ChannelClaim::~ChannelClaim() {
  Release();
}

void ChannelClaim::Release() {
  if (!lock_.Held()) return;
  if (!companion_.empty()) store::RemoveName(*dir_, companion_);
  companion_.clear();
  lock_.Release();
  dir_.reset();
}

int ClaimChannel(std::uint64_t radio, std::uint32_t channel, ChannelClaim& claim,
                 const std::function<int(ChannelClaim&)>& attach) {
  if (claim.Held()) return EINVAL;
  if (!IsLocalRadio(radio)) return EADDRNOTAVAIL;
  const store::Dir dir = store::Directory();
  if (!dir) return ENETDOWN;
  const bool any = channel < kFirstChannel || channel > kLastChannel;
  const std::uint32_t first = any ? kFirstChannel : channel;
  const std::uint32_t last = any ? kLastChannel : channel;
  for (std::uint32_t ch = first; ch <= last; ++ch) {
    store::Lock lock;
    if (int err = store::TakeLock(dir, "k-" + ChannelName(radio, ch), lock)) {
      if (err == EWOULDBLOCK) continue;
      return err;
    }
    claim.address_ = radio;
    claim.channel_ = ch;
    claim.dir_ = dir;
    claim.lock_ = std::move(lock);
    if (int err = attach(claim)) {
      claim.Release();
      claim.address_ = 0;
      claim.channel_ = 0;
      return err;
    }
    return 0;
  }
  return EADDRINUSE;
}

}  // namespace quorlink::platform::vradio
