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

#include "quorlink/core/Export.h"
#include "quorlink/platform/ApiSlot.h"
#include "quorlink/platform/Types.h"
#include "quorlink/platform/os/SerialTypes.h"

namespace quorlink {

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
  /// SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK; fails with
  /// ERROR_NOT_SUPPORTED on a device without the line (a pty).
  virtual BOOL EscapeCommFunction(HANDLE port, DWORD function) = 0;
  /// The MS_CTS_ON, MS_DSR_ON, MS_RING_ON and MS_RLSD_ON lines that are up;
  /// fails with ERROR_NOT_SUPPORTED on a device without them. A pending
  /// WaitCommEvent whose mask holds EV_CTS, EV_DSR, EV_RING or EV_RLSD ends
  /// when these differ from what this call last reported.
  virtual BOOL GetCommModemStatus(HANDLE port, DWORD* status) = 0;
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
