// One socket of the POSIX Winsock backend: a Unix stream socket carrying a
// virtual RFCOMM link, with its Winsock state and its notification request.
// Blocking calls may run on any thread; a socket with a notification request
// is used on the main thread only, as on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "quorlink/platform/BluetoothTypes.h"
#include "platform/posix/VirtualRadioLinks.h"

namespace quorlink::platform::posix {

namespace bluez {
class Endpoint;
}

struct WinsockSocket {
  enum class State { Fresh, Bound, Listening, Connecting, Connected };

  explicit WinsockSocket(int descriptor) : fd(descriptor) {}
  ~WinsockSocket();
  WinsockSocket(const WinsockSocket&) = delete;
  WinsockSocket& operator=(const WinsockSocket&) = delete;

  std::mutex mutex;  // guards everything below but fd
  const int fd;
  SOCKET handle = INVALID_SOCKET;
  State state = State::Fresh;
  bool nonBlocking = false;
  bool closed = false;
  std::uint64_t localRadio = 0;
  std::uint32_t channel = 0;
  std::uint64_t peerRadio = 0;
  std::uint32_t peerChannel = 0;
  vradio::ChannelClaim claim;
  std::unique_ptr<vradio::LinkRecord> link;
  // Set when BlueZ serves the socket; dropped by closesocket.
  std::shared_ptr<bluez::Endpoint> bluez;

  // The notification request and Winsock's re-enabling state.
  HWND window = nullptr;
  UINT message = 0;
  LONG mask = 0;
  bool readArmed = true;
  bool acceptArmed = true;
  bool writeArmed = true;
  bool closePosted = false;
  // The descriptor stays in the main loop's epoll set while it has a
  // request; each wanted event is armed once (EPOLLONESHOT) and re-armed by
  // the call that re-enables it, so a notification costs one epoll_ctl.
  bool registered = false;
  std::uint32_t watching = 0;  // epoll events armed now, 0 = none
  // A connect waiting for room in the listener's queue.
  int retryTimer = -1;
  int retriesLeft = 0;
};

// Socket handles of the process; values are never reused.
std::shared_ptr<WinsockSocket> FindSocket(SOCKET s);
SOCKET InsertSocket(std::shared_ptr<WinsockSocket> socket);
std::shared_ptr<WinsockSocket> RemoveSocket(SOCKET s);
std::size_t SocketCount();

// Notifications (main thread). Select replaces the request; Rearm re-enables
// an event after the call that Winsock re-enables it with; Unselect drops the
// watch. The socket's mutex is held by the caller of each.
void SelectLocked(const std::shared_ptr<WinsockSocket>& socket, HWND window, UINT message,
                  LONG mask);
void RearmLocked(const std::shared_ptr<WinsockSocket>& socket, LONG event);
// FD_READ's re-enabling by a recv; `filled` when it took all it asked for.
void ReadTakenLocked(const std::shared_ptr<WinsockSocket>& socket, bool filled);
void UnselectLocked(WinsockSocket& socket);
// Posts an event to the socket's window if it asked for it.
void PostLocked(WinsockSocket& socket, LONG event, int error);
// A non-blocking connect that found the listener's queue full tries again
// from the main loop until it is taken or times out.
void StartConnectRetryLocked(const std::shared_ptr<WinsockSocket>& socket);

// Winsock error of an errno value.
int WsaErrorFromErrno(int err);

}  // namespace quorlink::platform::posix
