/// @file
/// The serial port transport: TQuorComPort, its one connection, and the read
/// thread that hands received bytes to the main thread.
///
/// Thread rules: every member here is called on the main thread, and every
/// event is raised there. The read thread's loop only makes port calls on its
/// own copy of the port handle; it reaches the connection through Synchronize
/// (OnRead) and through messages posted to the connection's window (a lost
/// device, a modem-line change), which a closed connection never receives.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "quorlink/core/Export.h"
#include "quorlink/core/QuorCustomTransport.h"
#include "quorlink/core/Threads.h"
#include "quorlink/platform/Serial.h"

namespace quorlink {

/// The line rates of BaudRate; BaudRateValue gives their bits per second.
enum TQuorBaudRate : std::uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
/// Parity: none, odd, even, mark, space.
enum TQuorParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
/// Stop bits: 1, 1.5, 2.
enum TQuorStopBits : std::uint8_t { sb1, sb15, sb2 };
/// Data bits per character, passed to the driver unchanged.
using TQuorByteSize = std::uint8_t;
/// Flow control: none; RTS/CTS handshake; XON/XOFF in both directions;
/// DTR/DSR handshake (Windows only: Linux has none and refuses it).
enum TQuorFlowControl : std::uint8_t { fcNone, fcRtsCts, fcXonXoff, fcDtrDsr };
/// The modem input lines: clear to send, data set ready, ring, carrier.
enum TQuorModemLine : std::uint8_t { mlCTS, mlDSR, mlRI, mlDCD };
/// The input lines that are up.
using TQuorModemLines = TSet<TQuorModemLine>;
/// Handler of OnModemChange: the connection and the input lines now up.
using TQuorModemEvent = TEvent<TQuorCustomConnection*, TQuorModemLines>;
/// What the line reported wrong since Connect: received breaks, framing and
/// parity errors, and characters lost to overruns. Counted as the read thread
/// sees them (when bytes arrive), where the driver reports them (a pty does not).
struct TQuorLineErrors {
  DWORD Breaks = 0;         ///< breaks received
  DWORD FramingErrors = 0;  ///< characters with a bad stop bit
  DWORD ParityErrors = 0;   ///< characters with a bad parity bit
  DWORD Overruns = 0;       ///< times characters were lost to a full buffer
};

/// Bits per second of a rate (the CBR_ value); 0 outside the enumeration.
QUORLINK_API DWORD BaudRateValue(TQuorBaudRate rate);

/// The serial port transport: a client with one connection, the port "COMn"
/// opened with the line settings below (115200 8N1 on COM1 by default).
class QUORLINK_API TQuorComPort : public TQuorCustomTransport {
 public:
  /// An inactive transport with the default settings.
  explicit TQuorComPort(TComponent* owner);
  ~TQuorComPort() override;
  const char* ClassName() const override { return "TQuorComPort"; }
  ///@{
  /// Rate, data bits, parity, port number and stop bits. Changing one while
  /// active raises "Transport active."; a device that cannot take them
  /// fails Connect with "Can not open connection.".
  TQuorBaudRate GetBaudRate() const { return FBaudRate; }
  void SetBaudRate(TQuorBaudRate value);
  /// The line's bits per second when the enumeration has no value for it
  /// (230400, 921600, ...); 0 uses BaudRate. The device refuses a rate it
  /// cannot do when the port opens. Stored with a form only when set.
  DWORD GetCustomBaudRate() const { return FCustomBaudRate; }
  /// Sets CustomBaudRate; raises "Transport active." while active.
  void SetCustomBaudRate(DWORD value);
  /// What the port is opened at: CustomBaudRate, else BaudRate's value.
  DWORD GetLineRate() const;
  TQuorByteSize GetByteSize() const { return FByteSize; }
  void SetByteSize(TQuorByteSize value);
  TQuorParity GetParity() const { return FParity; }
  void SetParity(TQuorParity value);
  std::uint8_t GetPort() const { return FPort; }
  /// The port number n of "COMn". Defined here: <windows.h> without
  /// WIN32_LEAN_AND_MEAN makes SetPort a macro (SetPortA, SetPortW), and each
  /// program then gets the spelling it sees.
  void SetPort(std::uint8_t value) { StorePort(value); }
  TQuorStopBits GetStopBits() const { return FStopBits; }
  void SetStopBits(TQuorStopBits value);
  ///@}
  /// Flow control of the next open (fcNone by default, stored with a form
  /// when set). fcNone turns off any handshake the driver had; a device or
  /// system that does not take the one asked for fails Connect
  /// (ekSettingsRefused).
  TQuorFlowControl GetFlowControl() const { return FFlowControl; }
  /// Sets FlowControl; raises "Transport active." while active.
  void SetFlowControl(TQuorFlowControl value);

  ///@{
  /// Modem control of the open port; each raises "Transport not active."
  /// while inactive. The lines stay as the driver has them at open until set.
  /// SetDTR and SetRTS raise "Can not write data to connection." and
  /// GetModemStatus "Can not read data from connection." when the device has
  /// no such lines (a pty), with the system's code in the exception.
  void SetDTR(bool on);
  void SetRTS(bool on);
  TQuorModemLines GetModemStatus();
  /// Holds the line in the break state for `milliseconds` (1 to 5000, else
  /// "Invalid argument."), blocking the calling thread that long. Bytes
  /// written before may still be in the driver's queue and go out after it.
  void SendBreak(DWORD milliseconds);
  ///@}
  /// Breaks and errors the line reported since the last Connect.
  TQuorLineErrors GetLineErrors() const;
  /// The system error code that ended the last connection by itself (the
  /// device hung up or went away: then it is closed as by Close, raising
  /// OnDisconnect once); 0 after Connect and when the application closed it.
  /// Readable in OnDisconnect.
  DWORD GetLinkError() const { return FLinkError; }

  /// An input line of the open port changed. Watched only when assigned at
  /// Connect. The read thread compares the lines when it wakes (Windows wakes
  /// it for each line event; Linux looks every 20 ms), so a pulse that is
  /// over before it looks may be missed. Raised on the main thread, never
  /// after the connection has closed.
  TQuorModemEvent OnModemChange;

  /// "COM" and the port number: "COM1", "COM12", "COM0".
  std::string GetPortName() const;

  TQuorTransportCategory GetCategory() const override { return tcCOMPort; }
  std::string GetDescription() const override { return "COM Port Transport"; }
  TQuorTransportFlags GetFlags() const override { return {tfClient}; }

  void GetProperties(TPropList& list) const override;

  /// @cond INTERNAL
 protected:
  void InternalConnect() override;
  void InternalClose() override;

 private:
  template <class T>
  void Store(T& field, T value);
  void StorePort(std::uint8_t value);

  TQuorBaudRate FBaudRate = br115200;
  DWORD FCustomBaudRate = 0;
  TQuorByteSize FByteSize = 8;
  TQuorParity FParity = paNone;
  std::uint8_t FPort = 1;
  TQuorStopBits FStopBits = sb1;
  TQuorFlowControl FFlowControl = fcNone;
  DWORD FLinkError = 0;
  friend class TQuorComPortConnection;
  class TQuorComPortConnection& Open() const;
  /// @endcond
};

/// @cond INTERNAL

class TQuorComPortConnection;

/// What a connection and its read thread share. The thread may outlive the
/// connection; Disconnect cuts the link so that a delivery still on its way
/// to the main thread finds nobody. Connection: main thread only.
struct TQuorComPortReadLink {
  TQuorComPortConnection* Connection = nullptr;
  std::atomic<bool> Stopped{false};
  HWND Window = nullptr;              ///< the connection's: failures and line changes go there
  bool WatchLines = false;            ///< set before the thread starts
  std::atomic<DWORD> Failure{0};      ///< why the thread ended, before it posts
  std::atomic<DWORD> Counts[4] = {};  ///< breaks, framing, parity, overruns
};

class QUORLINK_API TQuorComPortConnection : public TQuorCustomConnection {
 public:
  /// Opens and configures the port, starts the read thread, raises OnConnect.
  explicit TQuorComPortConnection(TQuorCustomTransport* transport);
  const char* ClassName() const override { return "TQuorComPortConnection"; }

  std::string GetLocalAddress() override;
  std::string GetLocalName() override;
  std::string GetRemoteAddress() override { return GetLocalAddress(); }
  std::string GetRemoteName() override { return GetLocalName(); }
  /// Starts sending all bytes; returns before they have gone out.
  void Write(const TQuorByteArray& buf) override;

  HANDLE GetPortHandle() const { return PortHandle; }
  /// The line settings the driver reported before this connection set its own.
  const DCB& GetSettingsBefore() const { return SettingsBefore; }
  void Dispatch(TMessage& message) override;

 protected:
  /// Stops the read thread without waiting for it, closes the write event and
  /// the port, raises OnDisconnect. Runs once.
  void Disconnect() override;

 private:
  friend class TQuorComPortReadThread;
  friend class TQuorComPort;
  TQuorComPort& Port() const;
  void Open();
  /// Releases what Open acquired; safe to run twice.
  void Release();

  HANDLE PortHandle = INVALID_HANDLE_VALUE;
  DCB SettingsBefore{};
  /// Reused for every write: the platform copies what it cannot send at once
  /// and never writes into the record after WriteFile returns.
  OVERLAPPED WriteOverlapped{};
  /// Never dereferenced after it started: it frees itself when it ends.
  class TQuorComPortReadThread* ReadThread = nullptr;
  std::shared_ptr<TQuorComPortReadLink> Link;
};

class QUORLINK_API TQuorComPortReadThread : public TThread {
 public:
  /// Raises "Can not open connection." when its event cannot be made; starts
  /// running once constructed, and frees itself when its loop ends.
  explicit TQuorComPortReadThread(TQuorComPortConnection* connection);
  ~TQuorComPortReadThread() override;

 protected:
  void Execute() override;
  /// Main thread: raises OnRead for the chunk unless the connection has gone.
  /// What the handler raises goes to the transport's OnError, and reading
  /// goes on.
  void DoRead();

 private:
  bool Stopping() const;
  void ReadUntilStopped();
  /// Main thread: a failed read reaches the transport's OnError.
  void ReportFailure(const std::exception_ptr& error);

  TQuorByteArray ReadBuffer;
  std::shared_ptr<TQuorComPortReadLink> Link;
  const HANDLE PortHandle;
  OVERLAPPED ReadOverlapped{};
  DWORD ReadCount = 0;
  DWORD Lines = 0;  ///< the modem status last reported

  /// Posts the failure to the connection unless it is closing; then ends.
  [[noreturn]] void Fail(DWORD error);
  void NoteErrors(DWORD errors);
  void CheckLines();
};

/// @endcond

}  // namespace quorlink
