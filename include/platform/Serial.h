/// @file
/// Serial communications: the Win32 calls the serial transport makes, with
/// their records and constants, and the binding of "COMn" names to devices.
///
/// Thread rules: every call may be made from any thread. A port allows one
/// pending WaitCommEvent at a time (the reader's) while other threads write.
/// Completion of an overlapped call is reported only through the event of its
/// OVERLAPPED record: the backend never writes into the record, the mask or
/// the caller's buffer after the call has returned, and WriteFile copies the
/// bytes it could not send at once. So a record may be reused, and a buffer
/// freed, as soon as the call returns, even while the write is in progress.
#pragma once

#include <optional>
#include <string>

#include "core/Export.h"
#include "platform/ApiSlot.h"
#include "platform/Types.h"

namespace quorlink {

/// @cond WIN32_DECLARATIONS

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

constexpr DWORD EV_RXCHAR = 0x0001;
constexpr DWORD EV_RXFLAG = 0x0002;
constexpr DWORD EV_TXEMPTY = 0x0004;
constexpr DWORD EV_CTS = 0x0008;
constexpr DWORD EV_DSR = 0x0010;
constexpr DWORD EV_RLSD = 0x0020;
constexpr DWORD EV_BREAK = 0x0040;
constexpr DWORD EV_ERR = 0x0080;
constexpr DWORD EV_RING = 0x0100;

constexpr DWORD CE_RXOVER = 0x0001;
constexpr DWORD CE_OVERRUN = 0x0002;
constexpr DWORD CE_RXPARITY = 0x0004;
constexpr DWORD CE_FRAME = 0x0008;
constexpr DWORD CE_BREAK = 0x0010;

constexpr DWORD CBR_110 = 110;
constexpr DWORD CBR_300 = 300;
constexpr DWORD CBR_600 = 600;
constexpr DWORD CBR_1200 = 1200;
constexpr DWORD CBR_2400 = 2400;
constexpr DWORD CBR_4800 = 4800;
constexpr DWORD CBR_9600 = 9600;
constexpr DWORD CBR_14400 = 14400;
constexpr DWORD CBR_19200 = 19200;
constexpr DWORD CBR_38400 = 38400;
constexpr DWORD CBR_56000 = 56000;
constexpr DWORD CBR_57600 = 57600;
constexpr DWORD CBR_115200 = 115200;
constexpr DWORD CBR_128000 = 128000;
constexpr DWORD CBR_256000 = 256000;

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;

constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;

constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_TOGGLE = 3;

/// The line settings record, laid out as Win32 declares it.
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};

struct COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
};

/// @endcond

namespace platform {

/// @cond WIN32_DECLARATIONS

class QUORLINK_API ISerial {
 public:
  virtual ~ISerial() = default;

  /// Opens "COMn" (see BindComPort). Share mode 0 is exclusive: a second open
  /// of the device fails with ERROR_SHARING_VIOLATION while the first is open.
  /// The device is opened raw: bytes pass unchanged. The handle is closed with
  /// IKernel::CloseHandle, which ends every pending wait on it.
  virtual HANDLE CreateFileA(const char* name, DWORD desiredAccess, DWORD shareMode,
                             void* securityAttributes, DWORD creationDisposition,
                             DWORD flagsAndAttributes, HANDLE templateFile) = 0;
  virtual BOOL GetCommState(HANDLE port, DCB* dcb) = 0;
  /// Fails (ERROR_INVALID_PARAMETER) for settings the device cannot take.
  virtual BOOL SetCommState(HANDLE port, DCB* dcb) = 0;
  virtual BOOL PurgeComm(HANDLE port, DWORD flags) = 0;
  virtual BOOL SetCommMask(HANDLE port, DWORD mask) = 0;
  /// Overlapped only: TRUE when a selected event is there already, else FALSE
  /// with ERROR_IO_PENDING until a character is queued or the port is closed.
  virtual BOOL WaitCommEvent(HANDLE port, DWORD* eventMask, OVERLAPPED* overlapped) = 0;
  virtual BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* stat) = 0;
  /// Reads what is queued, up to toRead bytes; never left pending.
  virtual BOOL ReadFile(HANDLE port, void* buffer, DWORD toRead, DWORD* read,
                        OVERLAPPED* overlapped) = 0;
  /// What cannot be sent at once is copied and sent in the background, in
  /// order (FALSE with ERROR_IO_PENDING); the event is set when all is sent.
  virtual BOOL WriteFile(HANDLE port, const void* buffer, DWORD toWrite, DWORD* written,
                         OVERLAPPED* overlapped) = 0;
};

QUORLINK_API ISerial& Serial();
QUORLINK_API ISerial& OsSerial();  ///< defined by the build's OS backend
QUORLINK_API ISerial* SetSerial(ISerial* api);
using ScopedSerial = ScopedApi<ISerial, SetSerial>;

/// @endcond

/// "COMn" names: by default a backend's own device for n (on POSIX
/// /dev/ttyS{n-1}); a program or test may bind any n from 1 to 255 to a device
/// path of its choice. Any thread.
QUORLINK_API bool BindComPort(unsigned number, const std::string& devicePath);
/// Makes "COMn" the backend's own device again.
QUORLINK_API void UnbindComPort(unsigned number);
/// The bound path of "COMn" (also "\\.\COMn"); nullopt when the name is not a
/// COM name or n is unbound.
QUORLINK_API std::optional<std::string> BoundComPort(const std::string& name);
/// The port number of a COM name, nullopt when it is not one ("COM0" is 0).
QUORLINK_API std::optional<unsigned> ComPortNumber(const std::string& name);

}  // namespace platform
}  // namespace quorlink
