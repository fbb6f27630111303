// Links of the virtual radio on POSIX: Unix stream sockets. A listening
// channel is a socket named after its radio and channel in the rendezvous
// directory; a connecting socket is bound to a name that carries its own
// radio, which the listener reads back at accept.
#pragma once

#include <cstdint>

#include "platform/virtual/VirtualRadio.h"

namespace quorlink::platform::vradio {

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

}  // namespace quorlink::platform::vradio
