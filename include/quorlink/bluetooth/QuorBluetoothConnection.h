/// @file
/// One RFCOMM link of a TQuorBluetooth: made by the transport when a connect
/// completes or a link is accepted, destroyed through the transport's list.
/// The connection owns its socket, client or server, from the moment it is
/// made. Main thread only.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/core/Export.h"
#include "quorlink/core/QuorCustomTransport.h"

namespace quorlink {

/// One RFCOMM link of a TQuorBluetooth, made when a client's connect
/// completes or a server accepts.
class QUORLINK_API TQuorBluetoothConnection : public TQuorCustomConnection {
 public:
  /// Takes the socket over; raises "Invalid argument." for INVALID_SOCKET. A
  /// half-built connection is torn down, its socket closed, before the error
  /// leaves.
  TQuorBluetoothConnection(TQuorCustomTransport* transport, SOCKET socket);
  ~TQuorBluetoothConnection() override;
  const char* ClassName() const override { return "TQuorBluetoothConnection"; }
  void BeforeDestruction() override;

  std::string GetLocalAddress() override;
  std::string GetLocalName() override;
  std::string GetRemoteAddress() override;
  /// The name the local radio lists for the peer among its connected
  /// devices; empty when it lists none.
  std::string GetRemoteName() override;
  /// Keeps what the socket cannot take now and sends it, in order, when it
  /// can, and after a close from the background (see QuorBluetooth.h);
  /// raises "Can not write data to connection." when a send fails.
  void Write(const TQuorByteArray& buf) override;

  /// The link's socket, owned by the connection.
  SOCKET GetSocketHandle() const { return SocketHandle; }
  /// Bytes accepted by Write and not yet taken by the socket.
  std::size_t PendingWrite() const { return Pending.size() - PendingStart; }

  void Dispatch(TMessage& message) override;

  /// @cond INTERNAL
  /// The transport closed while this link's OnConnect ran: OnDisconnect once,
  /// and the socket goes now; the transport frees the object afterwards.
  void Abandon();
  bool IsAbandoned() const { return Abandoned; }

 protected:
  void Disconnect() override;
  void QuorMSocketEvent(TQUORM_SOCKET_EVENT& message);

  SOCKET SocketHandle = INVALID_SOCKET;
  /// @endcond

 private:
  TQuorBluetooth& Owner() const { return static_cast<TQuorBluetooth&>(*Transport); }
  void Receive();
  void DrainAndClose();
  void Flush();
  void SelectEvents(LONG events);
  /// Cancels the notifications and closes the socket, or hands it with the
  /// unsent bytes to a background sender. Idempotent; never raises.
  void ReleaseSocket() noexcept;
  /// OnDisconnect once, for a link the application heard of; what the
  /// handler raised, for the caller to pass on after releasing the link.
  std::exception_ptr AnnounceDisconnect() noexcept;

  /// Set once OnConnect has been raised: a link the application never heard
  /// of raises no OnDisconnect.
  bool Announced = false;
  bool Abandoned = false;
  bool WaitingForWrite = false;  ///< FD_WRITE requested
  TQuorByteArray Pending;
  std::size_t PendingStart = 0;
  /// Expires with the object, so a handler that destroys it is noticed.
  std::shared_ptr<int> Alive = std::make_shared<int>(0);
};

}  // namespace quorlink
