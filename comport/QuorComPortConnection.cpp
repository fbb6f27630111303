#include <algorithm>

#include "comport/QuorComPortMessages.h"
#include "platform/Kernel.h"
#include "quorlink/comport/QuorComPort.h"

namespace quorlink {

namespace {
// Why Open failed, taken before the throw: with mingw-w64 the first C++
// exception a thread throws resets the thread's last error on the way.
thread_local DWORD openError = ERROR_SUCCESS;

// What an open's failure means to the user, by the step that failed.
TQuorErrorKind OpenKind(DWORD error, bool settingLine) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
      return ekNotFound;
    case ERROR_SHARING_VIOLATION:
      return ekInUse;
    case ERROR_ACCESS_DENIED:
      return ekNotPermitted;
    case ERROR_INVALID_FUNCTION:
      return ekNotSerialDevice;
    default:
      return settingLine ? ekSettingsRefused : ekOther;
  }
}

[[noreturn]] void FailOpen(bool settingLine = false) {
  openError = platform::Kernel().GetLastError();
  throw EQuorTransportException(_Str_CanNotOpenConnection, openError,
                                OpenKind(openError, settingLine));
}

// The flow control fields of a DCB for a setting; the rest stays.
void ApplyFlowControl(DCB& dcb, TQuorFlowControl flow) {
  dcb.fOutxCtsFlow = flow == fcRtsCts;
  dcb.fOutxDsrFlow = flow == fcDtrDsr;
  dcb.fDsrSensitivity = 0;
  dcb.fOutX = dcb.fInX = flow == fcXonXoff;
  if (flow == fcRtsCts)
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  else if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (flow == fcDtrDsr)
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  else if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
  if (flow == fcXonXoff) {
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
  }
}
}  // namespace

TQuorComPortConnection::TQuorComPortConnection(TQuorCustomTransport* transport)
    : TQuorCustomConnection(transport) {
  try {
    Open();
    DoConnect();
  } catch (...) {
    // Nothing is listed yet and the transport is inactive: no OnDisconnect.
    // The thread's last error still tells the caller why the open failed.
    auto& kernel = platform::Kernel();
    const DWORD error = openError != ERROR_SUCCESS ? openError : kernel.GetLastError();
    openError = ERROR_SUCCESS;
    Release();
    kernel.SetLastError(error);
    throw;
  }
}

TQuorComPort& TQuorComPortConnection::Port() const {
  return static_cast<TQuorComPort&>(*Transport);
}

void TQuorComPortConnection::Open() {
  auto& serial = platform::Serial();
  auto& kernel = platform::Kernel();
  openError = ERROR_SUCCESS;
  WriteOverlapped = OVERLAPPED{};
  const std::string name = Port().GetPortName();
  PortHandle = serial.CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (PortHandle == INVALID_HANDLE_VALUE) FailOpen();

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!serial.GetCommState(PortHandle, &dcb)) FailOpen();
  SettingsBefore = dcb;
  // Only these four: every other setting stays as the driver has it.
  dcb.BaudRate = Port().GetLineRate();
  dcb.Parity = static_cast<BYTE>(Port().GetParity());
  dcb.ByteSize = Port().GetByteSize();
  dcb.StopBits = static_cast<BYTE>(Port().GetStopBits());
  ApplyFlowControl(dcb, Port().GetFlowControl());
  if (!serial.SetCommState(PortHandle, &dcb)) FailOpen(true);
  if (!serial.PurgeComm(PortHandle, PURGE_TXCLEAR | PURGE_RXCLEAR)) FailOpen();
  // Line changes wake the reader only for a program that listens to them;
  // breaks and line errors wake it to be counted.
  const bool watchLines = static_cast<bool>(Port().OnModemChange);
  DWORD mask = EV_RXCHAR | EV_BREAK | EV_ERR;
  if (watchLines) mask |= EV_CTS | EV_DSR | EV_RLSD | EV_RING;
  if (!serial.SetCommMask(PortHandle, mask)) FailOpen();
  WriteOverlapped.hEvent = kernel.CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (WriteOverlapped.hEvent == nullptr) FailOpen();

  Link = std::make_shared<TQuorComPortReadLink>();
  Link->Connection = this;
  Link->Window = WindowHandle;
  Link->WatchLines = watchLines;
  ReadThread = new TQuorComPortReadThread(this);
}

void TQuorComPortConnection::Release() {
  // The thread is told first, so that the wait the close ends finds it told.
  if (Link) {
    Link->Stopped.store(true, std::memory_order_release);
    Link->Connection = nullptr;
    Link.reset();
  }
  ReadThread = nullptr;
  auto& kernel = platform::Kernel();
  if (WriteOverlapped.hEvent != nullptr) {
    kernel.CloseHandle(WriteOverlapped.hEvent);
    WriteOverlapped.hEvent = nullptr;
  }
  if (PortHandle != INVALID_HANDLE_VALUE) {
    // Closing the port also ends the reader's pending wait.
    kernel.CloseHandle(PortHandle);
    PortHandle = INVALID_HANDLE_VALUE;
  }
}

void TQuorComPortConnection::Dispatch(TMessage& message) {
  // A message that comes after Release found no link: the connection is closing.
  if (message.Msg == QUORM_PORT_FAILED && Link) {
    const DWORD failure = Link->Failure.load();
    if (failure == ERROR_SUCCESS) return;
    // Closed as the application's Close would: OnDisconnect once, the
    // transport inactive, the device free for the next open.
    Port().FLinkError = failure;
    DeleteSelf();
    return;
  }
  if (message.Msg == QUORM_MODEM_CHANGE && Link) {
    if (Port().OnModemChange)
      Port().OnModemChange(this, ModemLines(static_cast<DWORD>(message.WParam)));
    return;
  }
  TQuorCustomConnection::Dispatch(message);
}

void TQuorComPortConnection::Disconnect() {
  const bool wasOpen = PortHandle != INVALID_HANDLE_VALUE || Link;
  Release();
  if (wasOpen) DoDisconnect();
}

std::string TQuorComPortConnection::GetLocalAddress() {
  return IntToStr(Port().GetPort());
}

std::string TQuorComPortConnection::GetLocalName() {
  return Port().GetPortName();
}

void TQuorComPortConnection::Write(const TQuorByteArray& buf) {
  // A length is 32 bits wide: larger arrays go in pieces, in order.
  constexpr std::size_t kMaxPiece = 0x40000000;
  std::size_t at = 0;
  do {
    const std::size_t piece = std::min(kMaxPiece, buf.size() - at);
    DWORD written = 0;
    if (!platform::Serial().WriteFile(PortHandle, buf.data() + at, static_cast<DWORD>(piece),
                                      &written, &WriteOverlapped) &&
        platform::Kernel().GetLastError() != ERROR_IO_PENDING)
      throw EQuorTransportException(_Str_CanNotWriteToConnection);
    at += piece;
  } while (at < buf.size());
}

}  // namespace quorlink
