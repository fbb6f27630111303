#include "quorlink/bluetooth/QuorBluetoothAPI.h"

#include <cstring>
#include <iterator>

#include "platform/Kernel.h"
#include "platform/SdpApi.h"
#include "platform/Winsock.h"

namespace quorlink {

namespace {

constexpr BOOL kTrue = -1;  // all bits set, as the SDK's 32-bit truth values
constexpr BOOL Truth(bool b) {
  return b ? kTrue : 0;
}

// Shifting every bit out of 32 leaves nothing.
constexpr std::uint32_t ShiftLeft(std::uint32_t value, std::int32_t count) {
  return count >= 0 && count < 32 ? value << count : 0;
}
constexpr std::uint32_t ShiftRight(std::uint32_t value, std::int32_t count) {
  return count >= 0 && count < 32 ? value >> count : 0;
}

bool AllZero(const UCHAR* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

bool IsMulticastScope(const in6_addr& a, UCHAR scope) {
  return (IN6_IS_ADDR_MULTICAST)(a) && (a.u.Byte[1] & 0x0F) == scope;
}

// The SDK's values, by names no system macro can replace.
constexpr USHORT kAfInet6 = 23;
constexpr WORD kLangNeutral = 0x00;
constexpr WORD kSublangDefault = 0x01;
constexpr UCHAR kBthErrorSuccess = 0;
constexpr DWORD kIocVoid = 0x20000000;
constexpr DWORD kIocOut = 0x40000000;
constexpr DWORD kIocIn = 0x80000000;
constexpr DWORD kIocInOut = 0xC0000000;
constexpr DWORD kIocParmMask = 0x7F;

constexpr UINT kFdSetSize = sizeof(fd_set::fd_array) / sizeof(SOCKET);
UINT UsedEntries(const fd_set& set) {
  return set.fd_count < kFdSetSize ? set.fd_count : kFdSetSize;
}

const TTypeInfo kCompletionType{TTypeKind::tkEnumeration,
                                "WSACOMPLETIONTYPE",
                                {"NSP_NOTIFY_IMMEDIATELY", "NSP_NOTIFY_HWND", "NSP_NOTIFY_EVENT",
                                 "NSP_NOTIFY_PORT", "NSP_NOTIFY_APC"},
                                0,
                                4};
const TTypeInfo kComparatorType{
    TTypeKind::tkEnumeration, "WSAECOMPARATOR", {"COMP_EQUAL", "COMP_NOTLESS"}, 0, 1};
const TTypeInfo kSetServiceOpType{
    TTypeKind::tkEnumeration,
    "WSAESETSERVICEOP",
    {"RNRSERVICE_REGISTER", "RNRSERVICE_DEREGISTER", "RNRSERVICE_DELETE"},
    0,
    2};
const TTypeInfo kContainerType{TTypeKind::tkEnumeration,
                               "NONECONTAINERTYPE",
                               {"NODECONTAINERTYPESEQUENCE", "NODECONTAINERTYPEAALERNATIVE"},
                               0,
                               1};

char errorTextA[1024];
WCHAR errorTextW[1024];

constexpr DWORD kErrorTextFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;

}  // namespace

const TTypeInfo& TypeInfoWSACOMPLETIONTYPE() {
  return kCompletionType;
}
const TTypeInfo& TypeInfoWSAECOMPARATOR() {
  return kComparatorType;
}
const TTypeInfo& TypeInfoWSAESETSERVICEOP() {
  return kSetServiceOpType;
}
const TTypeInfo& TypeInfoNONECONTAINERTYPE() {
  return kContainerType;
}

WORD(MAKELANGID)(WORD primary, WORD sub) {
  return static_cast<WORD>((sub << 10) | primary);
}

std::int32_t(IP_MSFILTER_SIZE)(std::int32_t numsrc) {
  return static_cast<std::int32_t>(16u + 4u * static_cast<std::uint32_t>(numsrc));
}

WORD(SS_PORT)(const void* address) {
  WORD port;
  std::memcpy(&port, static_cast<const BYTE*>(address) + 2, sizeof port);
  return port;
}

void(IN6ADDR_SETANY)(SOCKADDR_IN6& address) {
  address.sin6_family = kAfInet6;
  address.sin6_port = 0;
  address.sin6_flowinfo = 0;
  address.sin6_addr = quorlink::in6addr_any;
}

void(IN6ADDR_SETLOOPBACK)(SOCKADDR_IN6& address) {
  address.sin6_family = kAfInet6;
  address.sin6_port = 0;
  address.sin6_flowinfo = 0;
  address.sin6_addr = quorlink::in6addr_loopback;
}

bool(IN6ADDR_ISANY)(const SOCKADDR_IN6& address) {
  return address.sin6_family == kAfInet6 && (IN6_IS_ADDR_UNSPECIFIED)(address.sin6_addr);
}

bool(IN6ADDR_ISLOOPBACK)(const SOCKADDR_IN6& address) {
  return address.sin6_family == kAfInet6 && (IN6_IS_ADDR_LOOPBACK)(address.sin6_addr);
}

bool(IN6_ADDR_EQUAL)(const in6_addr& a, const in6_addr& b) {
  return std::memcmp(a.u.Byte, b.u.Byte, sizeof a.u.Byte) == 0;
}

bool(IN6_IS_ADDR_UNSPECIFIED)(const in6_addr& a) {
  return (IN6_ADDR_EQUAL)(a, quorlink::in6addr_any);
}
bool(IN6_IS_ADDR_LOOPBACK)(const in6_addr& a) {
  return (IN6_ADDR_EQUAL)(a, quorlink::in6addr_loopback);
}
bool(IN6_IS_ADDR_MULTICAST)(const in6_addr& a) {
  return a.u.Byte[0] == 0xFF;
}
bool(IN6_IS_ADDR_LINKLOCAL)(const in6_addr& a) {
  return a.u.Byte[0] == 0xFE && (a.u.Byte[1] & 0xC0) == 0x80;
}
bool(IN6_IS_ADDR_SITELOCAL)(const in6_addr& a) {
  return a.u.Byte[0] == 0xFE && (a.u.Byte[1] & 0xC0) == 0xC0;
}
bool(IN6_IS_ADDR_V4MAPPED)(const in6_addr& a) {
  return AllZero(a.u.Byte, 10) && a.u.Byte[10] == 0xFF && a.u.Byte[11] == 0xFF;
}
bool(IN6_IS_ADDR_V4COMPAT)(const in6_addr& a) {
  const bool lowWordZero = a.u.Byte[12] == 0 && a.u.Byte[13] == 0;
  return AllZero(a.u.Byte, 12) && !(lowWordZero && a.u.Byte[14] == 0 && a.u.Byte[15] <= 1);
}
bool(IN6_IS_ADDR_MC_NODELOCAL)(const in6_addr& a) {
  return IsMulticastScope(a, 0x1);
}
bool(IN6_IS_ADDR_MC_LINKLOCAL)(const in6_addr& a) {
  return IsMulticastScope(a, 0x2);
}
bool(IN6_IS_ADDR_MC_SITELOCAL)(const in6_addr& a) {
  return IsMulticastScope(a, 0x5);
}
bool(IN6_IS_ADDR_MC_ORGLOCAL)(const in6_addr& a) {
  return IsMulticastScope(a, 0x8);
}
bool(IN6_IS_ADDR_MC_GLOBAL)(const in6_addr& a) {
  return IsMulticastScope(a, 0xE);
}

bool(IN_CLASSA)(DWORD address) {
  return (address & 0x80000000u) == 0;
}
bool(IN_CLASSB)(DWORD address) {
  return (address & 0xC0000000u) == 0x80000000u;
}
bool(IN_CLASSC)(DWORD address) {
  return (address & 0xE0000000u) == 0xC0000000u;
}
bool(IN_CLASSD)(DWORD address) {
  return (address & 0xF0000000u) == 0xE0000000u;
}
bool(IN_MULTICAST)(DWORD address) {
  return (IN_CLASSD)(address);
}

char*(gai_strerrorA)(std::int32_t code) {
  const DWORD n = platform::Kernel().FormatMessageA(
      kErrorTextFlags, nullptr, static_cast<DWORD>(code),
      (MAKELANGID)(kLangNeutral, kSublangDefault), errorTextA, sizeof errorTextA, nullptr);
  return n == 0 ? nullptr : errorTextA;
}

WCHAR*(gai_strerrorW)(std::int32_t code) {
  const DWORD n =
      platform::Kernel().FormatMessageW(kErrorTextFlags, nullptr, static_cast<DWORD>(code),
                                        (MAKELANGID)(kLangNeutral, kSublangDefault), errorTextW,
                                        sizeof errorTextW / sizeof errorTextW[0], nullptr);
  return n == 0 ? nullptr : errorTextW;
}

#ifndef gai_strerror  // as declared
char*(gai_strerror)(std::int32_t code) {
  return gai_strerrorA(code);
}
#endif

#ifndef h_errno  // as declared: the system's h_errno is the one in force
std::int32_t(h_errno)() {
  return platform::Winsock().WSAGetLastError();
}
#endif

BTH_ADDR(GET_NAP)(BTH_ADDR address) {
  return (address >> 32) & 0xFFFF;
}
BTH_ADDR(GET_SAP)(BTH_ADDR address) {
  return address & 0xFFFFFFFF;
}
BTH_ADDR(SET_NAP)(WORD nap) {
  return static_cast<BTH_ADDR>(nap) << 32;
}
BTH_ADDR(SET_SAP)(DWORD sap) {
  return static_cast<BTH_ADDR>(sap);
}
BTH_ADDR(SET_NAP_SAP)(WORD nap, DWORD sap) {
  // In parentheses: the SDK's macros of these names would shift a WORD by 32.
  return (SET_NAP)(nap) | (SET_SAP)(sap);
}

DWORD(GET_COD_FORMAT)(DWORD cod) {
  return cod & 0x3;
}
DWORD(GET_COD_MINOR)(DWORD cod) {
  return (cod & 0xFC) >> 2;
}
DWORD(GET_COD_MAJOR)(DWORD cod) {
  return (cod & 0x1F00) >> 8;
}
DWORD(GET_COD_SERVICE)(DWORD cod) {
  return (cod & 0xFFE000) >> 13;
}
DWORD(GET_COD_LAN_MINOR)(DWORD cod) {
  return (cod & 0x1C) >> 2;
}
DWORD(GET_COD_LAN_ACCESS)(DWORD cod) {
  return (cod & 0xE0) >> 5;
}
void(SET_COD_MINOR)(DWORD& cod, DWORD value) {
  cod = (cod & 0xFFFFFF03u) | (value << 2);
}
void(SET_COD_MAJOR)(DWORD& cod, DWORD value) {
  cod = (cod & 0xFFFFE0FFu) | (value << 8);
}
void(SET_COD_SERVICE)(DWORD& cod, DWORD value) {
  cod = (cod & 0xFF001FFFu) | (value << 13);
}

BOOL(BTH_ERROR)(UCHAR status) {
  return Truth(status != kBthErrorSuccess);
}
BOOL(BTH_SUCCESS)(UCHAR status) {
  return Truth(status == kBthErrorSuccess);
}

std::int32_t(GET_BITS)(std::int32_t field, std::int32_t offset, std::int32_t mask) {
  return static_cast<std::int32_t>(ShiftRight(static_cast<std::uint32_t>(field), offset) &
                                   static_cast<std::uint32_t>(mask));
}
std::int32_t(GET_BIT)(std::int32_t field, std::int32_t offset) {
  return (GET_BITS)(field, offset, 1);
}
std::int32_t(BIT)(std::int32_t number) {
  return static_cast<std::int32_t>(ShiftLeft(1, number));
}

std::int32_t(LMP_3_SLOT_PACKETS)(std::int32_t f) {
  return (GET_BIT)(f, 0);
}
std::int32_t(LMP_5_SLOT_PACKETS)(std::int32_t f) {
  return (GET_BIT)(f, 1);
}
std::int32_t(LMP_ENCRYPTION)(std::int32_t f) {
  return (GET_BIT)(f, 2);
}
std::int32_t(LMP_SLOT_OFFSET)(std::int32_t f) {
  return (GET_BIT)(f, 3);
}
std::int32_t(LMP_TIMING_ACCURACY)(std::int32_t f) {
  return (GET_BIT)(f, 4);
}
std::int32_t(LMP_SWITCH)(std::int32_t f) {
  return (GET_BIT)(f, 5);
}
std::int32_t(LMP_HOLD_MODE)(std::int32_t f) {
  return (GET_BIT)(f, 6);
}
std::int32_t(LMP_SNIFF_MODE)(std::int32_t f) {
  return (GET_BIT)(f, 7);
}
std::int32_t(LMP_PARK_MODE)(std::int32_t f) {
  return (GET_BIT)(f, 8);
}
std::int32_t(LMP_RSSI)(std::int32_t f) {
  return (GET_BIT)(f, 9);
}
std::int32_t(LMP_CHANNEL_QUALITY_DRIVEN_MODE)(std::int32_t f) {
  return (GET_BIT)(f, 10);
}
std::int32_t(LMP_SCO_LINK)(std::int32_t f) {
  return (GET_BIT)(f, 11);
}
std::int32_t(LMP_HV2_PACKETS)(std::int32_t f) {
  return (GET_BIT)(f, 12);
}
std::int32_t(LMP_HV3_PACKETS)(std::int32_t f) {
  return (GET_BIT)(f, 13);
}
std::int32_t(LMP_MU_LAW_LOG)(std::int32_t f) {
  return (GET_BIT)(f, 14);
}
std::int32_t(LMP_A_LAW_LOG)(std::int32_t f) {
  return (GET_BIT)(f, 15);
}
std::int32_t(LMP_CVSD)(std::int32_t f) {
  return (GET_BIT)(f, 16);
}
std::int32_t(LMP_PAGING_SCHEME)(std::int32_t f) {
  return (GET_BIT)(f, 17);
}
std::int32_t(LMP_POWER_CONTROL)(std::int32_t f) {
  return (GET_BIT)(f, 18);
}
std::int32_t(LMP_TRANSPARENT_SCO_DATA)(std::int32_t f) {
  return (GET_BIT)(f, 19);
}
std::int32_t(LMP_FLOW_CONTROL_LAG)(std::int32_t f) {
  return (GET_BITS)(f, 20, 0x3);
}

void(FD_ZERO)(fd_set& set) {
  set.fd_count = 0;
}

// A count beyond the array (a set never cleared, or damaged) never takes a
// scan or a move outside it; every valid set gives the same results.
void(_FD_SET)(SOCKET s, fd_set& set) {
  const UINT used = UsedEntries(set);
  for (UINT i = 0; i < used; ++i) {
    if (set.fd_array[i] == s) return;
  }
  if (set.fd_count < kFdSetSize) set.fd_array[set.fd_count++] = s;
}

void(FD_CLR)(SOCKET s, fd_set& set) {
  const UINT used = UsedEntries(set);
  for (UINT i = 0; i < used; ++i) {
    if (set.fd_array[i] != s) continue;
    for (; i + 1 < used; ++i) set.fd_array[i] = set.fd_array[i + 1];
    --set.fd_count;
    return;
  }
}

bool(FD_ISSET)(SOCKET s, fd_set& set) {
  // The system scans fd_count entries: a count beyond the array (a set never
  // cleared, or damaged) would take it past the end.
  constexpr auto kEntries =
      static_cast<decltype(set.fd_count)>(std::size(decltype(set.fd_array){}));
  if (set.fd_count <= kEntries) return platform::Winsock().__WSAFDIsSet(s, &set) != 0;
  fd_set inside = set;
  inside.fd_count = kEntries;
  return platform::Winsock().__WSAFDIsSet(s, &inside) != 0;
}

bool(timerisset)(const timeval& tv) {
  return tv.tv_sec != 0 || tv.tv_usec != 0;
}
void(timerclear)(timeval& tv) {
  tv.tv_sec = 0;
  tv.tv_usec = 0;
}

DWORD(_IO)(DWORD x, DWORD y) {
  return kIocVoid | (x << 8) | y;
}
DWORD(_IOR)(DWORD x, DWORD y, DWORD t) {
  return kIocOut | ((t & kIocParmMask) << 16) | (x << 8) | y;
}
DWORD(_IOW)(DWORD x, DWORD y, DWORD t) {
  return kIocIn | ((t & kIocParmMask) << 16) | (x << 8) | y;
}
DWORD(_WSAIO)(DWORD x, DWORD y) {
  return kIocVoid | x | y;
}
DWORD(_WSAIOR)(DWORD x, DWORD y) {
  return kIocOut | x | y;
}
DWORD(_WSAIOW)(DWORD x, DWORD y) {
  return kIocIn | x | y;
}
DWORD(_WSAIORW)(DWORD x, DWORD y) {
  return kIocInOut | x | y;
}

DWORD(WSAMAKEASYNCREPLY)(WORD bufferLength, WORD error) {
  return static_cast<DWORD>(bufferLength) | (static_cast<DWORD>(error) << 16);
}
DWORD(WSAMAKESELECTREPLY)(WORD event, WORD error) {
  return static_cast<DWORD>(event) | (static_cast<DWORD>(error) << 16);
}
WORD(WSAGETASYNCBUFLEN)(DWORD param) {
  return static_cast<WORD>(param & 0xFFFF);
}
WORD(WSAGETASYNCERROR)(DWORD param) {
  return static_cast<WORD>(param >> 16);
}
WORD(WSAGETSELECTEVENT)(DWORD param) {
  return static_cast<WORD>(param & 0xFFFF);
}
WORD(WSAGETSELECTERROR)(DWORD param) {
  return static_cast<WORD>(param >> 16);
}

BOOL(BluetoothEnumAttributes)
(BYTE* stream, ULONG size, PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK callback, void* param) {
  return platform::Sdp().BluetoothSdpEnumAttributes(stream, size, callback, param);
}

}  // namespace quorlink
