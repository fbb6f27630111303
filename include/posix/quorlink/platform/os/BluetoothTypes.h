// POSIX build: the library's own copies of the Windows SDK's names.
// The records and constants shared by Winsock's Bluetooth family and the
// Bluetooth API, with the Windows SDK's names, values and layouts, so that a
// Windows backend forwards them untouched. SOCKET is pointer-sized as on
// Win64. The few Winsock names that POSIX headers also declare are in
// quorlink::win32 (see platform/Types.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "Types.h"

namespace quorlink {

using INT = int;
using LONG = std::int32_t;
using USHORT = std::uint16_t;
using UCHAR = std::uint8_t;
using CHAR = char;

// ---- Sockets ----

using SOCKET = std::uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;

constexpr int AF_BTH = 32;
constexpr int BTHPROTO_RFCOMM = 3;
constexpr int BTHPROTO_L2CAP = 0x0100;
constexpr ULONG BT_PORT_ANY = 0xFFFFFFFF;
constexpr DWORD NS_BTH = 16;

constexpr int SO_PROTOCOL_INFOA = 0x2004;
constexpr int SO_PROTOCOL_INFOW = 0x2005;

// Network events of WSAAsyncSelect.
constexpr LONG FD_READ = 0x01;
constexpr LONG FD_WRITE = 0x02;
constexpr LONG FD_OOB = 0x04;
constexpr LONG FD_ACCEPT = 0x08;
constexpr LONG FD_CONNECT = 0x10;
constexpr LONG FD_CLOSE = 0x20;

// Winsock error codes (winerror.h values).
constexpr int WSA_INVALID_HANDLE = 6;
constexpr int WSA_NOT_ENOUGH_MEMORY = 8;
constexpr int WSA_INVALID_PARAMETER = 87;
constexpr int WSA_OPERATION_ABORTED = 995;
constexpr int WSA_IO_INCOMPLETE = 996;
constexpr int WSA_IO_PENDING = 997;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAEDISCON = 10101;
constexpr int WSAENOMORE = 10102;
constexpr int WSAECANCELLED = 10103;
constexpr int WSAEINVALIDPROCTABLE = 10104;
constexpr int WSAEINVALIDPROVIDER = 10105;
constexpr int WSAEPROVIDERFAILEDINIT = 10106;
constexpr int WSASYSCALLFAILURE = 10107;
constexpr int WSASERVICE_NOT_FOUND = 10108;
constexpr int WSATYPE_NOT_FOUND = 10109;
constexpr int WSA_E_NO_MORE = 10110;
constexpr int WSA_E_CANCELLED = 10111;
constexpr int WSAEREFUSED = 10112;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// The generic socket address; every family's record starts with the family.
struct SOCKADDR {
  USHORT sa_family;
  CHAR sa_data[14];
};

using BTH_ADDR = ULONGLONG;

#pragma pack(push, 1)
struct SOCKADDR_BTH {
  USHORT addressFamily;
  BTH_ADDR btAddr;
  GUID serviceClassId;
  ULONG port;
};
#pragma pack(pop)
static_assert(sizeof(SOCKADDR_BTH) == 30);
static_assert(offsetof(SOCKADDR_BTH, btAddr) == 2);
static_assert(offsetof(SOCKADDR_BTH, serviceClassId) == 10);
static_assert(offsetof(SOCKADDR_BTH, port) == 26);

}  // namespace quorlink

namespace quorlink::win32 {

// <sys/socket.h> declares it too, as 1 (a self-referring macro on glibc).
constexpr int SOCK_STREAM = 1;
// The same values under names no system header takes, for code built for
// every OS (the SDK makes SOCK_STREAM and SOL_SOCKET macros).
constexpr int kSockStream = 1;
constexpr int kSolSocket = 0xFFFF;
// <sys/socket.h> defines it as a macro of another value (1).
#ifndef SOL_SOCKET
constexpr int SOL_SOCKET = 0xFFFF;
#endif

// Winsock's socket set: a count and an array of 64 (Winsock's FD_SETSIZE),
// not a bit mask.
struct fd_set {
  UINT fd_count;
  SOCKET fd_array[64];
};

}  // namespace quorlink::win32

namespace quorlink {

// ---- Start-up ----

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;

#if UINTPTR_MAX > 0xFFFFFFFFu
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
#else
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};
#endif

// ---- Protocol information ----

constexpr int MAX_PROTOCOL_CHAIN = 7;
constexpr int WSAPROTOCOL_LEN = 255;

struct WSAPROTOCOLCHAIN {
  int ChainLen;
  DWORD ChainEntries[MAX_PROTOCOL_CHAIN];
};

struct WSAPROTOCOL_INFOA {
  DWORD dwServiceFlags1;
  DWORD dwServiceFlags2;
  DWORD dwServiceFlags3;
  DWORD dwServiceFlags4;
  DWORD dwProviderFlags;
  GUID ProviderId;
  DWORD dwCatalogEntryId;
  WSAPROTOCOLCHAIN ProtocolChain;
  int iVersion;
  int iAddressFamily;
  int iMaxSockAddr;
  int iMinSockAddr;
  int iSocketType;
  int iProtocol;
  int iProtocolMaxOffset;
  int iNetworkByteOrder;
  int iSecurityScheme;
  DWORD dwMessageSize;
  DWORD dwProviderReserved;
  CHAR szProtocol[WSAPROTOCOL_LEN + 1];
};
static_assert(sizeof(WSAPROTOCOL_INFOA) == 372);

// ---- Name-space registration ----

// Plain enumerations, int-sized as the SDK's C declarations are.
enum WSACOMPLETIONTYPE {
  NSP_NOTIFY_IMMEDIATELY,
  NSP_NOTIFY_HWND,
  NSP_NOTIFY_EVENT,
  NSP_NOTIFY_PORT,
  NSP_NOTIFY_APC
};
enum WSAECOMPARATOR { COMP_EQUAL, COMP_NOTLESS };
enum WSAESETSERVICEOP { RNRSERVICE_REGISTER, RNRSERVICE_DEREGISTER, RNRSERVICE_DELETE };
// The SDP container node types.
enum NONECONTAINERTYPE : std::uint8_t { NODECONTAINERTYPESEQUENCE, NODECONTAINERTYPEAALERNATIVE };

struct WSAVERSION {
  DWORD dwVersion;
  WSAECOMPARATOR ecHow;
};

struct AFPROTOCOLS {
  INT iAddressFamily;
  INT iProtocol;
};

struct SOCKET_ADDRESS {
  SOCKADDR* lpSockaddr;
  INT iSockaddrLength;
};

struct CSADDR_INFO {
  SOCKET_ADDRESS LocalAddr;
  SOCKET_ADDRESS RemoteAddr;
  INT iSocketType;
  INT iProtocol;
};

struct BLOB {
  ULONG cbSize;
  BYTE* pBlobData;
};

template <class Char>
struct WSAQUERYSET_T {
  DWORD dwSize;
  Char* lpszServiceInstanceName;
  GUID* lpServiceClassId;
  WSAVERSION* lpVersion;
  Char* lpszComment;
  DWORD dwNameSpace;
  GUID* lpNSProviderId;
  Char* lpszContext;
  DWORD dwNumberOfProtocols;
  AFPROTOCOLS* lpafpProtocols;
  Char* lpszQueryString;
  DWORD dwNumberOfCsAddrs;
  CSADDR_INFO* lpcsaBuffer;
  DWORD dwOutputFlags;
  BLOB* lpBlob;
};
using WSAQUERYSETA = WSAQUERYSET_T<char>;
using WSAQUERYSETW = WSAQUERYSET_T<WCHAR>;

// ---- Bluetooth API ----

constexpr int BLUETOOTH_MAX_NAME_SIZE = 248;

using HBLUETOOTH_RADIO_FIND = HANDLE;
using HBLUETOOTH_DEVICE_FIND = HANDLE;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct BLUETOOTH_ADDRESS {
  union {
    BTH_ADDR ullLong;
    BYTE rgBytes[6];
  };
};

struct BLUETOOTH_FIND_RADIO_PARAMS {
  DWORD dwSize;
};

struct BLUETOOTH_RADIO_INFO {
  DWORD dwSize;
  BLUETOOTH_ADDRESS address;
  WCHAR szName[BLUETOOTH_MAX_NAME_SIZE];
  ULONG ulClassofDevice;
  USHORT lmpSubversion;
  USHORT manufacturer;
};
static_assert(sizeof(BLUETOOTH_RADIO_INFO) == 520);

struct BLUETOOTH_DEVICE_SEARCH_PARAMS {
  DWORD dwSize;
  BOOL fReturnAuthenticated;
  BOOL fReturnRemembered;
  BOOL fReturnUnknown;
  BOOL fReturnConnected;
  BOOL fIssueInquiry;
  UCHAR cTimeoutMultiplier;
  HANDLE hRadio;
};

struct BLUETOOTH_DEVICE_INFO {
  DWORD dwSize;
  BLUETOOTH_ADDRESS Address;
  ULONG ulClassofDevice;
  BOOL fConnected;
  BOOL fRemembered;
  BOOL fAuthenticated;
  SYSTEMTIME stLastSeen;
  SYSTEMTIME stLastUsed;
  WCHAR szName[BLUETOOTH_MAX_NAME_SIZE];
};
static_assert(sizeof(BLUETOOTH_DEVICE_INFO) == 560);

struct BLUETOOTH_COD_PAIRS {
  ULONG ulCODMask;
  const WCHAR* pcszDescription;
};

using PFN_DEVICE_CALLBACK = BOOL (*)(void* pvParam, const BLUETOOTH_DEVICE_INFO* pDevice);

struct BLUETOOTH_SELECT_DEVICE_PARAMS {
  DWORD dwSize;
  ULONG cNumOfClasses;
  BLUETOOTH_COD_PAIRS* prgClassOfDevices;
  WCHAR* pszInfo;
  HWND hwndParent;
  BOOL fForceAuthentication;
  BOOL fShowAuthenticated;
  BOOL fShowRemembered;
  BOOL fShowUnknown;
  BOOL fAddNewDeviceWizard;
  BOOL fSkipServicesPage;
  PFN_DEVICE_CALLBACK pfnDeviceCallback;
  void* pvParam;
  DWORD cNumDevices;
  BLUETOOTH_DEVICE_INFO* pDevices;
};

// Called for each attribute of an SDP record; false stops the walk.
using PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK = BOOL (*)(ULONG uAttribId, BYTE* pValueStream,
                                                        ULONG cbStreamSize, void* pvParam);

}  // namespace quorlink
