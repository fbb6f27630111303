// Links of the virtual radio on Windows: loopback TCP connections. A bound
// channel is a TCP socket on 127.0.0.1 at a port the system picks, held
// exclusively; the channel's private entry names the port and a random
// token. A connecting socket opens a loopback connection to that port and
// first sends a hello with the token and its own radio, so accept can name
// the peer and drop a stranger on loopback who does not know the token.
// Errors are Winsock codes.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>

#include "platform/virtual/VirtualRadio.h"

namespace quorlink::platform::vradio {

// The hello's length on the wire.
constexpr int kHelloLength = 28;
// How long accept waits for a new connection's hello before dropping it.
constexpr DWORD kHelloWaitMs = 2000;

// Binds a TCP socket to a channel of a local radio (outside 1..30: the lowest
// free one) and publishes its port and a fresh token.
int BindChannel(SOCKET s, std::uint64_t radio, std::uint32_t channel, ChannelClaim& claim,
                std::string& token);
// Reads a channel's entry: its listener's port and token. False when
// nobody holds the channel or the entry is not one of ours.
bool ReadChannelEntry(std::uint64_t radio, std::uint32_t channel, unsigned& port,
                      std::string& token);
// Connects from a local radio to a remote radio's channel and sends the
// hello. Waits for the loopback connection even on a non-blocking socket.
// WSAECONNREFUSED when nothing listens; WSAEHOSTUNREACH when no live radio
// has the address. `attempted` tells whether a TCP connection was tried (on
// a non-blocking socket Windows then reports its outcome by itself).
int ConnectChannel(SOCKET s, std::uint64_t localRadio, std::uint64_t remoteRadio,
                   std::uint32_t channel, bool& attempted);
// Accepts the next link that presents the listener's token, closing any
// stranger's connection on the way; WSAEWOULDBLOCK on a non-blocking socket
// when none is waiting.
int AcceptLink(SOCKET listener, const std::string& token, SOCKET& link, std::uint64_t& peerRadio);
// The hello a link of the local radio sends to a listener with the token.
std::string Hello(const std::string& token, std::uint64_t localRadio);

}  // namespace quorlink::platform::vradio
