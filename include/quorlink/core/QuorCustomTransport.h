/// @file
/// The abstract transport and connection: state rules, ownership, events and
/// hidden message windows. Everything here runs on the main thread.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"
#include "quorlink/core/QuorBaseComponent.h"
#include "quorlink/core/QuorStrings.h"
#include "quorlink/core/SysUtils.h"
#include "quorlink/core/TypInfo.h"

namespace quorlink {

/// The bytes of one read or write.
using TQuorByteArray = std::vector<std::uint8_t>;

/// The modes a transport kind offers: client (Connect), server (Listen).
enum TQuorTransportFlag : std::uint8_t { tfClient = 0, tfServer = 1 };
/// The set of modes of a transport kind.
using TQuorTransportFlags = TSet<TQuorTransportFlag>;

/// What a transport carries.
enum TQuorTransportCategory : std::uint8_t { tcBluetooth = 0, tcCOMPort = 1, tcIrDA = 2 };

class TQuorCustomConnection;
class TQuorCustomTransport;
///@{
/// Handlers of OnConnect, OnDisconnect and OnRead; the sender is always the
/// connection concerned. They run on the main thread.
using TQuorConnectEvent = TEvent<TQuorCustomConnection*>;
using TQuorDisconnectEvent = TEvent<TQuorCustomConnection*>;
using TQuorReadEvent = TEvent<TQuorCustomConnection*, const TQuorByteArray&>;
///@}
/// Handler of OnError: the object whose message failed (the transport or one of
/// its connections) and what was raised. Runs on the main thread.
using TQuorErrorEvent = TEvent<TObject*, const std::exception&>;

/// Why a link could not be opened or was lost, as a program tells its user.
enum TQuorErrorKind : std::uint8_t {
  ekOther,            ///< anything else (the error code says what)
  ekNotFound,         ///< no such port or device
  ekInUse,            ///< another program (or transport) holds it
  ekNotPermitted,     ///< the system refused access
  ekSettingsRefused,  ///< the device did not take the line settings or flow control
  ekNotSerialDevice,  ///< the path names something that is not a serial device
  ekDeviceGone        ///< the device went away (hang-up, unplug) while open
};

/// The library's own failures, with one of the texts of core/QuorStrings.h.
/// The text stays exactly as the identifier gives it; the system's error
/// code (Win32 numbering on every system, 0 when none) and its kind say why.
class QUORLINK_API EQuorTransportException : public Exception {
 public:
  /// The exception with the text of a message identifier.
  explicit EQuorTransportException(const TResStringRec& rec, DWORD errorCode = 0,
                                   TQuorErrorKind kind = ekOther)
      : Exception(rec), FErrorCode(errorCode), FKind(kind) {}
  /// The system's error code behind the failure; 0 when there is none.
  DWORD GetErrorCode() const noexcept { return FErrorCode; }
  /// What kind of failure it was.
  TQuorErrorKind GetKind() const noexcept { return FKind; }

 private:
  DWORD FErrorCode;
  TQuorErrorKind FKind;
};

/// The abstract transport: a client or server that owns one connection per
/// open link and raises the events. Main thread only.
class QUORLINK_API TQuorCustomTransport : public TQuorBaseComponent {
 public:
  /// An inactive transport, owned by `owner` (may be null).
  explicit TQuorCustomTransport(TComponent* owner);
  /// Kinds call DestroyTransport from their own destructor, where the whole
  /// object still stands; this only releases the window.
  ~TQuorCustomTransport() override;
  const char* ClassName() const override { return "TQuorCustomTransport"; }
  /// Free runs Close here, so that a raising handler reaches the caller.
  void BeforeDestruction() override;

  /// Opens the transport as a client. Raises "Transport in server mode." while
  /// listening, "Future not supported." for a kind without client mode, and
  /// the kind's own failures; a failed Connect leaves the transport inactive.
  void Connect();
  /// Opens the transport as a server. Raises "Transport in client mode." while
  /// connected and "Future not supported." for a kind without server mode.
  void Listen();
  /// Closes every connection (each raising OnDisconnect), then the transport.
  /// Does nothing while inactive.
  void Close();
  ///@{
  /// The open links, oldest first.
  int GetConnectionCount() const { return Connections->Count(); }
  int ConnectionCount() const { return GetConnectionCount(); }
  /// Raises the list's index error outside 0..count-1.
  TQuorCustomConnection* GetConnections(int index) const { return Connections->Items(index); }
  ///@}
  ///@{
  /// What the kind is; the setters ignore the value (forms store nothing).
  virtual TQuorTransportCategory GetCategory() const = 0;
  virtual std::string GetDescription() const = 0;
  virtual TQuorTransportFlags GetFlags() const = 0;
  void SetCategory(TQuorTransportCategory) {}
  void SetDescription(const std::string&) {}
  void SetFlags(TQuorTransportFlags) {}
  ///@}

  /// True between a successful Connect or Listen and the Close.
  bool IsActive() const { return Active; }
  /// True while active as a server.
  bool IsServerMode() const { return ServerMode; }

  /// A link is made; the connection is not yet counted in ConnectionCount.
  TQuorConnectEvent OnConnect;
  /// A link ends (its own Close, the transport's, the peer, a failure); once
  /// per connection, while the transport is still active.
  TQuorDisconnectEvent OnDisconnect;
  /// Bytes arrived on a connection.
  TQuorReadEvent OnRead;
  /// A failure that no call of the program can catch, on the main thread:
  /// - Bluetooth: a connect that fails after Connect returned (the transport
  ///   is closed first), an accept that fails, a link's read or close
  ///   notification that fails;
  /// - serial: a read that fails in the read thread (the port stops reading);
  /// - what an OnConnect, OnRead or OnDisconnect handler raises there.
  /// Failures of Connect, Listen, Close and Write are raised to their caller
  /// instead. Unbound, or when it raises itself, the exception goes to
  /// ApplicationHandleException with the same sender.
  TQuorErrorEvent OnError;

  void GetProperties(TPropList& list) const override;

  /// Inside a catch block on the main thread: passes the exception to OnError,
  /// or to ApplicationHandleException (see OnError).
  void DoError(TObject* sender) noexcept;

 protected:
  ///@{
  /// What a kind implements, and the state it shares with the base.
  virtual void InternalConnect() = 0;
  virtual void InternalClose() = 0;
  /// Kinds without tfServer leave it; Listen never reaches it.
  virtual void InternalListen();

  /// Raises "Transport active." while active.
  void CheckActive() const;
  /// Raises "Transport not active." while inactive.
  void CheckNotActive() const;

  /// The hidden window's procedure; no exception leaves it.
  void WndProc(TMessage& message);
  /// Closes (passing what a handler raises to the exception hook), then frees
  /// the remaining connections with the transport inactive, so without
  /// OnDisconnect. Idempotent.
  void DestroyTransport() noexcept;

  bool Active = false;
  std::unique_ptr<TObjectList<TQuorCustomConnection>> Connections;
  bool ServerMode = false;
  HWND WindowHandle = nullptr;
  ///@}

 private:
  friend class TQuorCustomConnection;
};

/// One open link of a transport, owned by it. Main thread only.
class QUORLINK_API TQuorCustomConnection : public TObject {
 public:
  /// Raises "Invalid argument." without a transport; makes the window.
  explicit TQuorCustomConnection(TQuorCustomTransport* transport);
  ~TQuorCustomConnection() override;
  TQuorCustomConnection(const TQuorCustomConnection&) = delete;
  TQuorCustomConnection& operator=(const TQuorCustomConnection&) = delete;
  const char* ClassName() const override { return "TQuorCustomConnection"; }

  /// Disconnect, release the window, and close a client transport; each
  /// step runs whatever the one before raised.
  void BeforeDestruction() override;
  ///@{
  /// Addresses and names of this end and the peer, as the kind knows them
  /// (a serial port gives its own name for both).
  virtual std::string GetLocalAddress() = 0;
  virtual std::string GetLocalName() = 0;
  virtual std::string GetRemoteAddress() = 0;
  virtual std::string GetRemoteName() = 0;
  ///@}
  /// Sends the bytes; returns before they have gone out, and raises when the
  /// link cannot take them.
  virtual void Write(const TQuorByteArray& buf) = 0;

  /// Takes the connection out of its transport's list, which destroys it.
  void Close() { DeleteSelf(); }
  /// The transport that owns the connection.
  TQuorCustomTransport* GetTransport() const { return Transport; }

 protected:
  /// Releases the link; called once, from BeforeDestruction.
  virtual void Disconnect() = 0;
  ///@{
  /// For connection kinds: raise the transport's handler, if any.
  void DoConnect();
  void DoDisconnect();
  void DoRead(const TQuorByteArray& buf);
  ///@}
  /// Destroys the connection if its transport lists it; touch nothing of
  /// the object afterwards.
  void DeleteSelf();
  /// The hidden window's procedure; no exception leaves it.
  void WndProc(TMessage& message);

  /// The owning transport.
  TQuorCustomTransport* const Transport;
  /// The connection's hidden window.
  HWND WindowHandle = nullptr;

 private:
  static TQuorCustomTransport* Checked(TQuorCustomTransport* transport);
};

}  // namespace quorlink
