/// @file
/// The Bluetooth RFCOMM transport: a client that connects out to a device's
/// service, or a server that publishes a service record and accepts links.
/// Main thread only, like every transport; the service-class table may be
/// read from any thread.
///
/// Close (of the transport, or of one connection) returns at once and leaves
/// nothing listed. Bytes that Write accepted and the socket had not yet taken
/// are not dropped: the link's socket and those bytes go to a background
/// sender, which closes the socket when they are sent, when the peer or link
/// fails, or when no byte has left for ten seconds. A program that ends after
/// a Close calls WaitForBluetoothDrains first so that the bytes can leave.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "quorlink/core/Export.h"
#include "quorlink/core/QuorCustomTransport.h"
#include "quorlink/platform/BluetoothTypes.h"
#include "quorlink/platform/Messages.h"

namespace quorlink {

/// Winsock posts this to the transport's and each connection's window.
constexpr UINT QUORM_SOCKET_EVENT = WM_USER + 257;

/// @cond INTERNAL
/// The socket-notification message with Winsock's parameters split out.
struct TQUORM_SOCKET_EVENT {
  UINT Msg;
  SOCKET Socket;
  WORD SelectEvent;
  WORD SelectError;
  LRESULT Result;

  static TQUORM_SOCKET_EVENT From(const TMessage& message) {
    const auto param = static_cast<std::uintptr_t>(message.LParam);
    return {message.Msg, static_cast<SOCKET>(message.WParam), static_cast<WORD>(param & 0xFFFF),
            static_cast<WORD>((param >> 16) & 0xFFFF), message.Result};
  }
};
/// @endcond

/// A service class: its GUID and the name that Service shows and accepts.
struct TQuorServiceGUIDsName {
  quorlink::GUID GUID;  ///< the Bluetooth base UUID with the class's number
  const char* Name;     ///< e.g. "SerialPortServiceClass"
};

/// The number of rows of QuorServiceGUIDsName.
constexpr int QuorServiceGUIDsCount = 52;
/// The service classes that Service shows and accepts, in the order the
/// property editor lists them and the look-ups scan.
extern QUORLINK_API const std::array<TQuorServiceGUIDsName, QuorServiceGUIDsCount>
    QuorServiceGUIDsName;

class TQuorBluetoothConnection;
namespace bluetooth_detail {
class TQuorPostTimer;
}

/// Any thread. Waits until every link that a Close left sending has finished
/// (sent, failed or stalled), at most `limit`; true when none is left.
QUORLINK_API bool WaitForBluetoothDrains(
    std::chrono::milliseconds limit = std::chrono::milliseconds::max());

/// The Bluetooth RFCOMM transport: a client that connects to a device's
/// service (Address, Service), or a server that publishes a service record
/// (Service, ServiceName, ServiceComment) and accepts many links.
class QUORLINK_API TQuorBluetooth : public TQuorCustomTransport {
 public:
  /// An inactive transport for the OBEX Object Push service on any channel.
  explicit TQuorBluetooth(TComponent* owner);
  ~TQuorBluetooth() override;
  const char* ClassName() const override { return "TQuorBluetooth"; }

  TQuorTransportCategory GetCategory() const override { return tcBluetooth; }
  std::string GetDescription() const override { return "Bluetooth Transport"; }
  TQuorTransportFlags GetFlags() const override { return TQuorTransportFlags{tfClient, tfServer}; }
  ///@{
  /// The peer device of a client, "(00:11:22:33:44:55)"; a malformed text
  /// raises "Invalid argument.". Like every setting, changing it while
  /// active raises "Transport active.".
  const std::string& GetAddress() const { return Address; }
  void SetAddress(const std::string& value);
  ///@}
  ///@{
  /// The RFCOMM channel; BT_PORT_ANY (the default) lets a server take any
  /// free one and a client find it from the peer's service record.
  DWORD GetPort() const { return Port; }
  /// Sets the channel. Defined here: <windows.h> without WIN32_LEAN_AND_MEAN
  /// makes SetPort a macro (SetPortA, SetPortW), and each program then gets
  /// the spelling it sees.
  void SetPort(DWORD value) { StorePort(value); }
  ///@}
  ///@{
  /// The service class by its name in QuorServiceGUIDsName
  /// ("SerialPortServiceClass"). Any other name, "" included, stores the zero
  /// class, which GetService then reads as "": check GetService after setting
  /// a name the user typed.
  std::string GetService() const;
  void SetService(const std::string& value);
  ///@}
  ///@{
  /// The texts a server publishes in its service record.
  const std::string& GetServiceComment() const { return ServiceComment; }
  void SetServiceComment(const std::string& value);
  const std::string& GetServiceName() const { return ServiceName; }
  void SetServiceName(const std::string& value);
  ///@}
  /// The GUID of Service.
  const quorlink::GUID& GetServiceGUID() const { return ServiceGUID; }

  /// Defaults (any radio, any channel); with local, the socket's own address.
  void MakeAddr(SOCKADDR_BTH& addr, bool local) const;
  /// The device address of an address text, through the platform conversion.
  std::int64_t MakeAddressFromString(const std::string& text) const;
  ///@{
  /// The socket's address ("(00:11:22:33:44:55):channel") and its radio's
  /// name; "Transport not active." while inactive.
  std::string GetLocalAddress();
  std::string GetLocalName();
  ///@}
  /// The radio owning the socket's address, or INVALID_HANDLE_VALUE; the caller
  /// closes the handle.
  HANDLE GetRadioByAddress();
  /// The platform's device picker; the chosen address text or "".
  std::string SelectDevice();

  void Dispatch(TMessage& message) override;
  void GetProperties(TPropList& list) const override;

  /// @cond INTERNAL
 protected:
  void InternalConnect() override;
  void InternalClose() override;
  void InternalListen() override;

  void InitWSA();
  void FreeWSA();
  /// Starts Winsock and opens the RFCOMM socket; releases Winsock again when
  /// the socket cannot be made.
  void CreateSocket();
  void FreeSocket();
  void RegisterService(bool doRegister);
  void QuorMSocketEvent(TQUORM_SOCKET_EVENT& message);

  std::string Address = "(00:00:00:00:00:00)";
  DWORD Port = BT_PORT_ANY;
  quorlink::GUID ServiceGUID;
  std::string ServiceComment = "Quorlink OBEX Object Push Service";
  std::string ServiceName = "OBEX Object Push Service";
  SOCKET SocketHandle = INVALID_SOCKET;
  bool WinsockStarted = false;

 private:
  friend class TQuorBluetoothConnection;

  void StorePort(DWORD value);
  void Accept();
  void LinkConnected();
  /// Lists a link whose OnConnect has run, or frees it when a handler closed
  /// the transport meanwhile.
  void Adopt(TQuorBluetoothConnection* connection);
  /// Accepting stops after a failed accept and starts again after a pause or
  /// when a link of this server is released; the failure is reported once.
  void PauseAccepting() noexcept;
  void ResumeAccepting() noexcept;
  void LinkReleased() noexcept;

  /// The client's connected socket belongs to its connection from the moment
  /// the connection is made; the transport then only refers to it.
  bool LinkOwnsSocket = false;
  /// Links whose OnConnect is running: not listed yet, closed by Close all
  /// the same.
  std::vector<TQuorBluetoothConnection*> Announcing;
  bool AcceptPaused = false;
  bool AcceptFailureReported = false;
  std::chrono::steady_clock::time_point LastAcceptFailure;
  std::unique_ptr<bluetooth_detail::TQuorPostTimer> AcceptRetry;
  /// @endcond
};

}  // namespace quorlink

// The connection kind belongs to the same module.
#include "quorlink/bluetooth/QuorBluetoothConnection.h"  // IWYU pragma: export
