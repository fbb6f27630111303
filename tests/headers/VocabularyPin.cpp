// Pins the library's POSIX copies of the Win32 names (include/posix) to the
// Windows SDK's: every constant's value, every record's size and alignment,
// and the offsets the backends rely on. It only has to compile, for x86_64
// and for i686, so the two cannot drift apart. The copies are read before
// <windows.h>, whose macros would otherwise replace their names.
#include <cstddef>

#include "include/posix/quorlink/platform/os/BluetoothTypes.h"
#include "include/posix/quorlink/platform/os/SerialTypes.h"
#include "include/posix/quorlink/platform/os/Types.h"

#define QUORLINK_PINNED_CONSTANTS(X)                                                                                                            \
  X(TRUE)                                                                                                                                       \
  X(FALSE) X(ERROR_SUCCESS) X(ERROR_INVALID_FUNCTION) X(ERROR_FILE_NOT_FOUND) X(ERROR_PATH_NOT_FOUND) X(ERROR_TOO_MANY_OPEN_FILES) X(           \
      ERROR_ACCESS_DENIED) X(ERROR_INVALID_HANDLE) X(ERROR_NOT_ENOUGH_MEMORY) X(ERROR_OUTOFMEMORY) X(ERROR_NOT_READY) X(ERROR_GEN_FAILURE)      \
      X(ERROR_SHARING_VIOLATION) X(ERROR_NOT_SUPPORTED) X(ERROR_DEV_NOT_EXIST) X(ERROR_INVALID_PARAMETER) X(ERROR_INSUFFICIENT_BUFFER) X(       \
          ERROR_NO_MORE_ITEMS) X(ERROR_OPERATION_ABORTED) X(ERROR_IO_INCOMPLETE) X(ERROR_IO_PENDING)                                            \
          X(ERROR_CANCELLED) X(ERROR_NOT_FOUND) X(INFINITE) X(WAIT_OBJECT_0) X(WAIT_TIMEOUT) X(                                                 \
              WAIT_FAILED) X(FORMAT_MESSAGE_ALLOCATE_BUFFER) X(FORMAT_MESSAGE_IGNORE_INSERTS) X(FORMAT_MESSAGE_FROM_STRING)                     \
              X(FORMAT_MESSAGE_FROM_HMODULE) X(FORMAT_MESSAGE_FROM_SYSTEM) X(FORMAT_MESSAGE_ARGUMENT_ARRAY) X(FORMAT_MESSAGE_MAX_WIDTH_MASK) X( \
                  WM_USER) X(INVALID_SOCKET) X(SOCKET_ERROR) X(AF_BTH) X(BTHPROTO_RFCOMM) X(BTHPROTO_L2CAP)                                     \
                  X(BT_PORT_ANY) X(NS_BTH) X(SO_PROTOCOL_INFOA) X(SO_PROTOCOL_INFOW) X(FD_READ) X(FD_WRITE) X(                                  \
                      FD_OOB) X(FD_ACCEPT) X(FD_CONNECT) X(FD_CLOSE) X(WSA_INVALID_HANDLE)                                                      \
                      X(WSA_NOT_ENOUGH_MEMORY) X(WSA_INVALID_PARAMETER) X(WSA_OPERATION_ABORTED) X(                                             \
                          WSA_IO_INCOMPLETE) X(WSA_IO_PENDING) X(WSAEINTR) X(WSAEBADF) X(WSAEACCES)                                             \
                          X(WSAEFAULT) X(WSAEINVAL) X(WSAEMFILE) X(WSAEWOULDBLOCK) X(WSAEINPROGRESS) X(WSAEALREADY) X(                          \
                              WSAENOTSOCK) X(WSAEDESTADDRREQ) X(WSAEMSGSIZE) X(WSAEPROTOTYPE) X(WSAENOPROTOOPT) X(WSAEPROTONOSUPPORT)           \
                              X(WSAESOCKTNOSUPPORT) X(WSAEOPNOTSUPP) X(WSAEPFNOSUPPORT) X(WSAEAFNOSUPPORT) X(                                   \
                                  WSAEADDRINUSE) X(WSAEADDRNOTAVAIL) X(WSAENETDOWN)                                                             \
                                  X(WSAENETUNREACH) X(WSAENETRESET) X(WSAECONNABORTED) X(WSAECONNRESET) X(WSAENOBUFS) X(                        \
                                      WSAEISCONN) X(WSAENOTCONN) X(WSAESHUTDOWN) X(WSAETOOMANYREFS) X(WSAETIMEDOUT)                             \
                                      X(WSAECONNREFUSED) X(WSAELOOP) X(WSAENAMETOOLONG) X(WSAEHOSTDOWN) X(                                      \
                                          WSAEHOSTUNREACH) X(WSAENOTEMPTY) X(WSAEPROCLIM) X(WSAEUSERS) X(WSAEDQUOT)                             \
                                          X(WSAESTALE) X(WSAEREMOTE) X(WSASYSNOTREADY) X(WSAVERNOTSUPPORTED) X(                                 \
                                              WSANOTINITIALISED) X(WSAEDISCON) X(WSAENOMORE) X(WSAECANCELLED) X(WSAEINVALIDPROCTABLE)           \
                                              X(WSAEINVALIDPROVIDER) X(WSAEPROVIDERFAILEDINIT) X(                                               \
                                                  WSASYSCALLFAILURE) X(WSASERVICE_NOT_FOUND) X(WSATYPE_NOT_FOUND) X(WSA_E_NO_MORE)              \
                                                  X(WSA_E_CANCELLED) X(WSAEREFUSED) X(WSAHOST_NOT_FOUND) X(WSATRY_AGAIN) X(                     \
                                                      WSANO_RECOVERY) X(WSANO_DATA) X(WSADESCRIPTION_LEN)                                       \
                                                      X(WSASYS_STATUS_LEN) X(MAX_PROTOCOL_CHAIN) X(                                             \
                                                          WSAPROTOCOL_LEN) X(BLUETOOTH_MAX_NAME_SIZE) X(NSP_NOTIFY_IMMEDIATELY)                 \
                                                          X(NSP_NOTIFY_HWND) X(NSP_NOTIFY_EVENT) X(NSP_NOTIFY_PORT) X(                          \
                                                              COMP_EQUAL) X(COMP_NOTLESS) X(RNRSERVICE_REGISTER) X(RNRSERVICE_DEREGISTER)       \
                                                              X(RNRSERVICE_DELETE) X(GENERIC_READ) X(GENERIC_WRITE) X(                          \
                                                                  OPEN_EXISTING) X(FILE_FLAG_OVERLAPPED) X(PURGE_TXABORT)                       \
                                                                  X(PURGE_RXABORT) X(PURGE_TXCLEAR) X(PURGE_RXCLEAR) X(                         \
                                                                      EV_RXCHAR) X(EV_RXFLAG) X(EV_TXEMPTY) X(EV_CTS)                           \
                                                                      X(EV_DSR) X(EV_RLSD) X(EV_BREAK) X(                                       \
                                                                          EV_ERR) X(EV_RING) X(CE_RXOVER) X(CE_OVERRUN)                         \
                                                                          X(CE_RXPARITY) X(CE_FRAME) X(CE_BREAK) X(SETRTS) X(CLRRTS) X(SETDTR) X(CLRDTR) X(SETBREAK) X(CLRBREAK) X(MS_CTS_ON) X(MS_DSR_ON) X(MS_RING_ON) X(MS_RLSD_ON) X(                             \
                                                                              CBR_110) X(CBR_300)                                               \
                                                                              X(CBR_600) X(CBR_1200) X(CBR_2400) X(                             \
                                                                                  CBR_4800) X(CBR_9600)                                         \
                                                                                  X(CBR_14400) X(CBR_19200) X(                                  \
                                                                                      CBR_38400) X(CBR_56000)                                   \
                                                                                      X(CBR_57600) X(CBR_115200) X(                             \
                                                                                          CBR_128000) X(CBR_256000) X(NOPARITY)                 \
                                                                                          X(ODDPARITY) X(EVENPARITY) X(                         \
                                                                                              MARKPARITY) X(SPACEPARITY)                        \
                                                                                              X(ONESTOPBIT) X(ONE5STOPBITS) X(                  \
                                                                                                  TWOSTOPBITS) X(DTR_CONTROL_DISABLE)           \
                                                                                                  X(DTR_CONTROL_ENABLE) X(                      \
                                                                                                      DTR_CONTROL_HANDSHAKE)                    \
                                                                                                      X(RTS_CONTROL_DISABLE)                    \
                                                                                                          X(RTS_CONTROL_ENABLE)                 \
                                                                                                              X(RTS_CONTROL_HANDSHAKE)          \
                                                                                                                  X(NSP_NOTIFY_APC)

#define QUORLINK_PINNED_RECORDS(X)                                                               \
  X(OVERLAPPED)                                                                                  \
  X(GUID) X(SOCKADDR) X(SOCKADDR_BTH) X(WSADATA) X(WSAPROTOCOLCHAIN) X(WSAPROTOCOL_INFOA)        \
      X(WSAVERSION) X(AFPROTOCOLS) X(SOCKET_ADDRESS) X(CSADDR_INFO) X(BLOB) X(WSAQUERYSETA)      \
          X(WSAQUERYSETW) X(SYSTEMTIME) X(BLUETOOTH_ADDRESS) X(BLUETOOTH_FIND_RADIO_PARAMS)      \
              X(BLUETOOTH_RADIO_INFO) X(BLUETOOTH_DEVICE_SEARCH_PARAMS) X(BLUETOOTH_DEVICE_INFO) \
                  X(BLUETOOTH_COD_PAIRS) X(BLUETOOTH_SELECT_DEVICE_PARAMS) X(DCB) X(COMSTAT)     \
                      X(WSACOMPLETIONTYPE) X(WSAECOMPARATOR) X(WSAESETSERVICEOP) X(BOOL) X(BYTE) \
                          X(WORD) X(DWORD) X(ULONG) X(UINT) X(ULONGLONG) X(WCHAR) X(HANDLE)      \
                              X(HWND) X(WPARAM) X(LPARAM) X(LRESULT) X(INT) X(LONG) X(USHORT)    \
                                  X(UCHAR) X(CHAR) X(SOCKET) X(BTH_ADDR)

#define QUORLINK_PINNED_FIELDS(X)                                                                  \
  X(OVERLAPPED, hEvent)                                                                            \
  X(WSADATA, szDescription) X(WSADATA, szSystemStatus) X(WSADATA, lpVendorInfo) X(                 \
      WSAPROTOCOL_INFOA, szProtocol) X(WSAPROTOCOL_INFOA, iAddressFamily)                          \
      X(WSAQUERYSETA, dwNameSpace) X(WSAQUERYSETA, lpcsaBuffer) X(WSAQUERYSETA, lpBlob) X(         \
          CSADDR_INFO, RemoteAddr) X(CSADDR_INFO, iSocketType) X(SOCKADDR_BTH, btAddr)             \
          X(SOCKADDR_BTH, port) X(DCB, XonLim) X(DCB, ByteSize) X(DCB, EvtChar) X(DCB, wReserved1) \
              X(COMSTAT, cbInQue) X(BLUETOOTH_RADIO_INFO, szName)                                  \
                  X(BLUETOOTH_RADIO_INFO, manufacturer) X(BLUETOOTH_DEVICE_SEARCH_PARAMS, hRadio)  \
                      X(BLUETOOTH_DEVICE_INFO, stLastSeen) X(BLUETOOTH_DEVICE_INFO, szName)        \
                          X(BLUETOOTH_SELECT_DEVICE_PARAMS, pfnDeviceCallback)                     \
                              X(BLUETOOTH_SELECT_DEVICE_PARAMS, pDevices) X(COMSTAT, cbOutQue)

namespace pinned {
#define QUORLINK_CAPTURE(n) constexpr auto n##_value = quorlink::n;
QUORLINK_PINNED_CONSTANTS(QUORLINK_CAPTURE)
#define QUORLINK_CAPTURE_RECORD(T)                      \
  constexpr std::size_t T##_size = sizeof(quorlink::T); \
  constexpr std::size_t T##_align = alignof(quorlink::T);
QUORLINK_PINNED_RECORDS(QUORLINK_CAPTURE_RECORD)
#define QUORLINK_CAPTURE_FIELD(T, f) constexpr std::size_t T##_##f = offsetof(quorlink::T, f);
QUORLINK_PINNED_FIELDS(QUORLINK_CAPTURE_FIELD)
constexpr auto SOCK_STREAM_value = quorlink::win32::SOCK_STREAM;
constexpr auto SOL_SOCKET_value = quorlink::win32::SOL_SOCKET;
constexpr std::size_t fd_set_size = sizeof(quorlink::win32::fd_set);
}  // namespace pinned

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ws2bth.h>
#include <bluetoothapis.h>
// clang-format on

namespace pinned {
template <class A, class B>
constexpr bool SameValue(A a, B b) {
  return static_cast<long long>(a) == static_cast<long long>(b);
}
#define QUORLINK_CHECK(n) static_assert(SameValue(n##_value, n), #n);
QUORLINK_PINNED_CONSTANTS(QUORLINK_CHECK)
#define QUORLINK_CHECK_RECORD(T)                        \
  static_assert(T##_size == sizeof(::T), "sizeof " #T); \
  static_assert(T##_align == alignof(::T), "alignof " #T);
QUORLINK_PINNED_RECORDS(QUORLINK_CHECK_RECORD)
#define QUORLINK_CHECK_FIELD(T, f) static_assert(T##_##f == offsetof(::T, f), #T "::" #f);
QUORLINK_PINNED_FIELDS(QUORLINK_CHECK_FIELD)
static_assert(SameValue(SOCK_STREAM_value, SOCK_STREAM));
static_assert(SameValue(SOL_SOCKET_value, SOL_SOCKET));
static_assert(fd_set_size == sizeof(::fd_set));

// The records' 32-bit sizes, which hold only in an i686 build.
static_assert(sizeof(void*) != 4 || sizeof(::OVERLAPPED) == 20);
static_assert(sizeof(void*) != 4 || sizeof(::WSADATA) == 400);
static_assert(sizeof(void*) != 4 || sizeof(::WSAQUERYSETA) == 60);
static_assert(sizeof(void*) != 4 || sizeof(::CSADDR_INFO) == 24);
}  // namespace pinned
