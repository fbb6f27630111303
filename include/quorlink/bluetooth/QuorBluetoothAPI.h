/// @file
/// The Windows SDK's Bluetooth and socket helper macros as functions, and its
/// Bluetooth GUID and address constants, for applications.
///
/// The names are the SDK's, and C libraries define some of them as macros
/// (glibc: FD_ZERO, FD_ISSET, timerisset, IN6_IS_ADDR_*, IN_CLASSA, _IO, h_errno,
/// AF_INET6, IOC_IN, ...). A system macro always wins: nothing here undefines
/// one, so the system's meaning of the name is what a program gets.
/// - Every helper is declared with its name in parentheses, so it can be
///   declared and called whatever is included before or after: call it as
///   `(quorlink::FD_ZERO)(set)` where a macro of that name may be in scope.
/// - A constant that a system header defines as a macro is declared only when
///   no such macro exists at that point; where the macro exists it is the one
///   in force.
/// - The records fd_set, timeval and in6_addr are the SDK's, not the C
///   library's. With `using namespace quorlink` in force and this header
///   included, the unqualified names are ambiguous, and so are the C library's
///   macros that use them (FD_ZERO, IN6_IS_ADDR_*): where a scope uses those,
///   name this module's records qualified (quorlink::timeval) instead.
#pragma once

#include <cstdint>

#include "quorlink/core/Export.h"
#include "quorlink/core/TypInfo.h"
#include "quorlink/platform/BluetoothTypes.h"
#include "quorlink/platform/Types.h"

namespace quorlink {

// ---- Records ----

using win32::fd_set;

/// The SDK's layout: the same 16 bytes as bytes or as eight words in memory
/// order. The helpers read the bytes.
struct in6_addr {
  union {
    UCHAR Byte[16];
    USHORT Word[8];
  } u;
};

static_assert(sizeof(in6_addr) == 16);

struct SOCKADDR_IN6 {
  USHORT sin6_family;
  USHORT sin6_port;
  ULONG sin6_flowinfo;
  in6_addr sin6_addr;
  ULONG sin6_scope_id;
};
static_assert(sizeof(SOCKADDR_IN6) == 28);

struct timeval {
  LONG tv_sec;
  LONG tv_usec;
};

/// The enumeration types' names by ordinal, for the property system.
QUORLINK_API const TTypeInfo& TypeInfoWSACOMPLETIONTYPE();
QUORLINK_API const TTypeInfo& TypeInfoWSAECOMPARATOR();
QUORLINK_API const TTypeInfo& TypeInfoWSAESETSERVICEOP();
QUORLINK_API const TTypeInfo& TypeInfoNONECONTAINERTYPE();

// ---- Constants ----

#ifndef AF_INET6
constexpr USHORT AF_INET6 = 23;
#endif
#ifndef FD_SETSIZE
constexpr int FD_SETSIZE = 64;
#endif
#ifndef LANG_NEUTRAL
constexpr WORD LANG_NEUTRAL = 0x00;
#endif
#ifndef SUBLANG_DEFAULT
constexpr WORD SUBLANG_DEFAULT = 0x01;
#endif
#ifndef BTH_ERROR_SUCCESS
constexpr UCHAR BTH_ERROR_SUCCESS = 0;
#endif

#ifndef IOC_VOID
constexpr DWORD IOC_VOID = 0x20000000;
#endif
#ifndef IOC_OUT
constexpr DWORD IOC_OUT = 0x40000000;
#endif
#ifndef IOC_IN
constexpr DWORD IOC_IN = 0x80000000;
#endif
#ifndef IOC_INOUT
constexpr DWORD IOC_INOUT = 0xC0000000;
#endif
#ifndef IOCPARM_MASK
constexpr DWORD IOCPARM_MASK = 0x7F;
#endif

#ifndef BLUETOOTH_NULL_ADDRESS
constexpr BTH_ADDR BLUETOOTH_NULL_ADDRESS = 0;
#endif

inline constexpr in6_addr in6addr_any{};
inline constexpr in6_addr in6addr_loopback{{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}};
#ifndef IN6ADDR_ANY_INIT
inline constexpr in6_addr IN6ADDR_ANY_INIT = in6addr_any;
#endif
#ifndef IN6ADDR_LOOPBACK_INIT
inline constexpr in6_addr IN6ADDR_LOOPBACK_INIT = in6addr_loopback;
#endif

/// The Bluetooth base UUID 00000000-0000-1000-8000-00805F9B34FB with an
/// assigned number in the low bits of its first group.
constexpr GUID BluetoothBaseUuid(std::uint32_t number) {
  return GUID{number, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
}

inline constexpr GUID GUID_BTHPORT_DEVICE_INTERFACE{
    0x0850302A, 0xB344, 0x4FDA, {0x9B, 0xE9, 0x90, 0x57, 0x6B, 0x8D, 0x46, 0xF0}};
inline constexpr GUID GUID_BLUETOOTH_RADIO_IN_RANGE{
    0xEA3B5B82, 0x26EE, 0x450E, {0xB0, 0xD8, 0xD2, 0x6F, 0xE3, 0x0A, 0x38, 0x69}};
inline constexpr GUID GUID_BLUETOOTH_RADIO_OUT_OF_RANGE{
    0xE28867C9, 0xC2AA, 0x4CED, {0xB9, 0x69, 0x45, 0x70, 0x86, 0x60, 0x37, 0xC4}};
inline constexpr GUID GUID_BLUETOOTH_PIN_REQUEST{
    0xBD198B7C, 0x24AB, 0x4B9A, {0x8C, 0x0D, 0xA8, 0xEA, 0x83, 0x49, 0xAA, 0x16}};
inline constexpr GUID GUID_BLUETOOTH_L2CAP_EVENT{
    0x7EAE4030, 0xB709, 0x4AA8, {0xAC, 0x55, 0xE9, 0x53, 0x82, 0x9C, 0x9D, 0xAA}};
inline constexpr GUID GUID_BLUETOOTH_HCI_EVENT{
    0xFC240062, 0x1541, 0x49BE, {0xB4, 0x63, 0x84, 0xC4, 0xDC, 0xD7, 0xBF, 0x7F}};
inline constexpr GUID SVCID_BTH_PROVIDER{
    0x06AA63E0, 0x7D60, 0x41FF, {0xAF, 0xB2, 0x3E, 0xE6, 0xD2, 0xD9, 0x39, 0x2D}};

inline constexpr GUID SDP_PROTOCOL_UUID = BluetoothBaseUuid(0x0001);
inline constexpr GUID UDP_PROTOCOL_UUID = BluetoothBaseUuid(0x0002);
inline constexpr GUID RFCOMM_PROTOCOL_UUID = BluetoothBaseUuid(0x0003);
inline constexpr GUID TCP_PROTOCOL_UUID = BluetoothBaseUuid(0x0004);
inline constexpr GUID TCSBIN_PROTOCOL_UUID = BluetoothBaseUuid(0x0005);
inline constexpr GUID TCSAT_PROTOCOL_UUID = BluetoothBaseUuid(0x0006);
inline constexpr GUID OBEX_PROTOCOL_UUID = BluetoothBaseUuid(0x0008);
inline constexpr GUID IP_PROTOCOL_UUID = BluetoothBaseUuid(0x0009);
inline constexpr GUID FTP_PROTOCOL_UUID = BluetoothBaseUuid(0x000A);
inline constexpr GUID HTTP_PROTOCOL_UUID = BluetoothBaseUuid(0x000C);
inline constexpr GUID WSP_PROTOCOL_UUID = BluetoothBaseUuid(0x000E);
inline constexpr GUID BNEP_PROTOCOL_UUID = BluetoothBaseUuid(0x000F);
inline constexpr GUID UPNP_PROTOCOL_UUID = BluetoothBaseUuid(0x0010);
inline constexpr GUID HID_PROTOCOL_UUID = BluetoothBaseUuid(0x0011);
inline constexpr GUID HCCC_PROTOCOL_UUID = BluetoothBaseUuid(0x0012);
inline constexpr GUID HCDC_PROTOCOL_UUID = BluetoothBaseUuid(0x0014);
inline constexpr GUID HN_PROTOCOL_UUID = BluetoothBaseUuid(0x0016);
inline constexpr GUID AVCTP_PROTOCOL_UUID = BluetoothBaseUuid(0x0017);
inline constexpr GUID AVDTP_PROTOCOL_UUID = BluetoothBaseUuid(0x0019);
inline constexpr GUID CMPT_PROTOCOL_UUID = BluetoothBaseUuid(0x001B);
inline constexpr GUID UDI_C_PLANE_PROTOCOL_UUID = BluetoothBaseUuid(0x001D);
inline constexpr GUID L2CAP_PROTOCOL_UUID = BluetoothBaseUuid(0x0100);

/// The service classes, in the order of the service-class table.
inline constexpr GUID ServiceDiscoveryServerServiceClassID_UUID = BluetoothBaseUuid(0x1000);
inline constexpr GUID BrowseGroupDescriptorServiceClassID_UUID = BluetoothBaseUuid(0x1001);
inline constexpr GUID PublicBrowseGroupServiceClass_UUID = BluetoothBaseUuid(0x1002);
inline constexpr GUID SerialPortServiceClass_UUID = BluetoothBaseUuid(0x1101);
inline constexpr GUID LANAccessUsingPPPServiceClass_UUID = BluetoothBaseUuid(0x1102);
inline constexpr GUID DialupNetworkingServiceClass_UUID = BluetoothBaseUuid(0x1103);
inline constexpr GUID IrMCSyncServiceClass_UUID = BluetoothBaseUuid(0x1104);
inline constexpr GUID OBEXObjectPushServiceClass_UUID = BluetoothBaseUuid(0x1105);
inline constexpr GUID OBEXFileTransferServiceClass_UUID = BluetoothBaseUuid(0x1106);
inline constexpr GUID IrMCSyncCommandServiceClass_UUID = BluetoothBaseUuid(0x1107);
inline constexpr GUID HeadsetServiceClass_UUID = BluetoothBaseUuid(0x1108);
inline constexpr GUID CordlessTelephonyServiceClass_UUID = BluetoothBaseUuid(0x1109);
inline constexpr GUID AudioSourceServiceClass_UUID = BluetoothBaseUuid(0x110A);
inline constexpr GUID AudioSinkServiceClass_UUID = BluetoothBaseUuid(0x110B);
inline constexpr GUID AVRemoteControlTargetServiceClass_UUID = BluetoothBaseUuid(0x110C);
inline constexpr GUID AdvancedAudioDistributionServiceClass_UUID = BluetoothBaseUuid(0x110D);
inline constexpr GUID AVRemoteControlServiceClass_UUID = BluetoothBaseUuid(0x110E);
inline constexpr GUID VideoConferencingServiceClass_UUID = BluetoothBaseUuid(0x110F);
inline constexpr GUID IntercomServiceClass_UUID = BluetoothBaseUuid(0x1110);
inline constexpr GUID FaxServiceClass_UUID = BluetoothBaseUuid(0x1111);
inline constexpr GUID HeadsetAudioGatewayServiceClass_UUID = BluetoothBaseUuid(0x1112);
inline constexpr GUID WAPServiceClass_UUID = BluetoothBaseUuid(0x1113);
inline constexpr GUID WAPClientServiceClass_UUID = BluetoothBaseUuid(0x1114);
inline constexpr GUID PANUServiceClass_UUID = BluetoothBaseUuid(0x1115);
inline constexpr GUID NAPServiceClass_UUID = BluetoothBaseUuid(0x1116);
inline constexpr GUID GNServiceClass_UUID = BluetoothBaseUuid(0x1117);
inline constexpr GUID DirectPrintingServiceClass_UUID = BluetoothBaseUuid(0x1118);
inline constexpr GUID ReferencePrintingServiceClass_UUID = BluetoothBaseUuid(0x1119);
inline constexpr GUID ImagingServiceClass_UUID = BluetoothBaseUuid(0x111A);
inline constexpr GUID ImagingResponderServiceClass_UUID = BluetoothBaseUuid(0x111B);
inline constexpr GUID ImagingAutomaticArchiveServiceClass_UUID = BluetoothBaseUuid(0x111C);
inline constexpr GUID ImagingReferenceObjectsServiceClass_UUID = BluetoothBaseUuid(0x111D);
inline constexpr GUID HandsfreeServiceClass_UUID = BluetoothBaseUuid(0x111E);
inline constexpr GUID HandsfreeAudioGatewayServiceClass_UUID = BluetoothBaseUuid(0x111F);
inline constexpr GUID DirectPrintingReferenceObjectsServiceClass_UUID = BluetoothBaseUuid(0x1120);
inline constexpr GUID ReflectedUIServiceClass_UUID = BluetoothBaseUuid(0x1121);
inline constexpr GUID BasicPringingServiceClass_UUID = BluetoothBaseUuid(0x1122);
inline constexpr GUID PrintingStatusServiceClass_UUID = BluetoothBaseUuid(0x1123);
inline constexpr GUID HumanInterfaceDeviceServiceClass_UUID = BluetoothBaseUuid(0x1124);
inline constexpr GUID HardcopyCableReplacementServiceClass_UUID = BluetoothBaseUuid(0x1125);
inline constexpr GUID HCRPrintServiceClass_UUID = BluetoothBaseUuid(0x1126);
inline constexpr GUID HCRScanServiceClass_UUID = BluetoothBaseUuid(0x1127);
inline constexpr GUID CommonISDNAccessServiceClass_UUID = BluetoothBaseUuid(0x1128);
inline constexpr GUID VideoConferencingGWServiceClass_UUID = BluetoothBaseUuid(0x1129);
inline constexpr GUID UDIMTServiceClass_UUID = BluetoothBaseUuid(0x112A);
inline constexpr GUID UDITAServiceClass_UUID = BluetoothBaseUuid(0x112B);
inline constexpr GUID AudioVideoServiceClass_UUID = BluetoothBaseUuid(0x112C);
inline constexpr GUID PnPInformationServiceClass_UUID = BluetoothBaseUuid(0x1200);
inline constexpr GUID GenericNetworkingServiceClass_UUID = BluetoothBaseUuid(0x1201);
inline constexpr GUID GenericFileTransferServiceClass_UUID = BluetoothBaseUuid(0x1202);
inline constexpr GUID GenericAudioServiceClass_UUID = BluetoothBaseUuid(0x1203);
inline constexpr GUID GenericTelephonyServiceClass_UUID = BluetoothBaseUuid(0x1204);

// ---- Helpers ----
// Truth results are bool, except the BOOL ones, which are all bits set for
// true. Shifts are logical; shifting a bit out of 32 bits leaves 0.

QUORLINK_API WORD(MAKELANGID)(WORD primary, WORD sub);

QUORLINK_API std::int32_t(IP_MSFILTER_SIZE)(std::int32_t numsrc);
/// The 16-bit word at byte offset 2, in network order as stored.
QUORLINK_API WORD(SS_PORT)(const void* address);
QUORLINK_API void(IN6ADDR_SETANY)(SOCKADDR_IN6& address);
QUORLINK_API void(IN6ADDR_SETLOOPBACK)(SOCKADDR_IN6& address);
QUORLINK_API bool(IN6ADDR_ISANY)(const SOCKADDR_IN6& address);
QUORLINK_API bool(IN6ADDR_ISLOOPBACK)(const SOCKADDR_IN6& address);
QUORLINK_API bool(IN6_ADDR_EQUAL)(const in6_addr& a, const in6_addr& b);
QUORLINK_API bool(IN6_IS_ADDR_UNSPECIFIED)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_LOOPBACK)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_MULTICAST)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_LINKLOCAL)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_SITELOCAL)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_V4MAPPED)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_V4COMPAT)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_MC_NODELOCAL)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_MC_LINKLOCAL)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_MC_SITELOCAL)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_MC_ORGLOCAL)(const in6_addr& a);
QUORLINK_API bool(IN6_IS_ADDR_MC_GLOBAL)(const in6_addr& a);
QUORLINK_API bool(IN_CLASSA)(DWORD address);
QUORLINK_API bool(IN_CLASSB)(DWORD address);
QUORLINK_API bool(IN_CLASSC)(DWORD address);
QUORLINK_API bool(IN_CLASSD)(DWORD address);
QUORLINK_API bool(IN_MULTICAST)(DWORD address);

/// The system's text for an error code, or null when it has none. Each
/// variant shares one buffer between all callers: the text lasts until the
/// next call of that variant.
QUORLINK_API char*(gai_strerrorA)(std::int32_t code);
QUORLINK_API WCHAR*(gai_strerrorW)(std::int32_t code);
// Where <ws2tcpip.h> defines gai_strerror (gai_strerrorA or gai_strerrorW by
// UNICODE), the system's spelling is the one in force.
#ifndef gai_strerror
QUORLINK_API char*(gai_strerror)(std::int32_t code);
#endif
// The calling thread's last Winsock error. Where <netdb.h> (or <winsock2.h>)
// defines h_errno, the system's is the one in force.
#ifndef h_errno
QUORLINK_API std::int32_t(h_errno)();
#endif

QUORLINK_API BTH_ADDR(GET_NAP)(BTH_ADDR address);
QUORLINK_API BTH_ADDR(GET_SAP)(BTH_ADDR address);
QUORLINK_API BTH_ADDR(SET_NAP)(WORD nap);
QUORLINK_API BTH_ADDR(SET_SAP)(DWORD sap);
QUORLINK_API BTH_ADDR(SET_NAP_SAP)(WORD nap, DWORD sap);

QUORLINK_API DWORD(GET_COD_FORMAT)(DWORD cod);
QUORLINK_API DWORD(GET_COD_MINOR)(DWORD cod);
QUORLINK_API DWORD(GET_COD_MAJOR)(DWORD cod);
QUORLINK_API DWORD(GET_COD_SERVICE)(DWORD cod);
QUORLINK_API DWORD(GET_COD_LAN_MINOR)(DWORD cod);
QUORLINK_API DWORD(GET_COD_LAN_ACCESS)(DWORD cod);
/// The value is not masked: its stray bits land in the neighbouring fields.
QUORLINK_API void(SET_COD_MINOR)(DWORD& cod, DWORD value);
QUORLINK_API void(SET_COD_MAJOR)(DWORD& cod, DWORD value);
QUORLINK_API void(SET_COD_SERVICE)(DWORD& cod, DWORD value);

QUORLINK_API BOOL(BTH_ERROR)(UCHAR status);
QUORLINK_API BOOL(BTH_SUCCESS)(UCHAR status);
QUORLINK_API std::int32_t(GET_BITS)(std::int32_t field, std::int32_t offset, std::int32_t mask);
QUORLINK_API std::int32_t(GET_BIT)(std::int32_t field, std::int32_t offset);
QUORLINK_API std::int32_t(BIT)(std::int32_t number);

QUORLINK_API std::int32_t(LMP_3_SLOT_PACKETS)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_5_SLOT_PACKETS)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_ENCRYPTION)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_SLOT_OFFSET)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_TIMING_ACCURACY)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_SWITCH)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_HOLD_MODE)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_SNIFF_MODE)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_PARK_MODE)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_RSSI)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_CHANNEL_QUALITY_DRIVEN_MODE)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_SCO_LINK)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_HV2_PACKETS)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_HV3_PACKETS)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_MU_LAW_LOG)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_A_LAW_LOG)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_CVSD)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_PAGING_SCHEME)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_POWER_CONTROL)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_TRANSPARENT_SCO_DATA)(std::int32_t features);
QUORLINK_API std::int32_t(LMP_FLOW_CONTROL_LAG)(std::int32_t features);

QUORLINK_API void(FD_ZERO)(fd_set& set);
QUORLINK_API void(_FD_SET)(SOCKET s, fd_set& set);
QUORLINK_API void(FD_CLR)(SOCKET s, fd_set& set);
QUORLINK_API bool(FD_ISSET)(SOCKET s, fd_set& set);
QUORLINK_API bool(timerisset)(const timeval& tv);
QUORLINK_API void(timerclear)(timeval& tv);

QUORLINK_API DWORD(_IO)(DWORD x, DWORD y);
QUORLINK_API DWORD(_IOR)(DWORD x, DWORD y, DWORD t);
QUORLINK_API DWORD(_IOW)(DWORD x, DWORD y, DWORD t);
QUORLINK_API DWORD(_WSAIO)(DWORD x, DWORD y);
QUORLINK_API DWORD(_WSAIOR)(DWORD x, DWORD y);
QUORLINK_API DWORD(_WSAIOW)(DWORD x, DWORD y);
QUORLINK_API DWORD(_WSAIORW)(DWORD x, DWORD y);

QUORLINK_API DWORD(WSAMAKEASYNCREPLY)(WORD bufferLength, WORD error);
QUORLINK_API DWORD(WSAMAKESELECTREPLY)(WORD event, WORD error);
QUORLINK_API WORD(WSAGETASYNCBUFLEN)(DWORD param);
QUORLINK_API WORD(WSAGETASYNCERROR)(DWORD param);
QUORLINK_API WORD(WSAGETSELECTEVENT)(DWORD param);
QUORLINK_API WORD(WSAGETSELECTERROR)(DWORD param);

/// Walks the attributes of an SDP record stream, calling back for each.
QUORLINK_API BOOL BluetoothEnumAttributes(BYTE* stream, ULONG size,
                                          PFN_BLUETOOTH_ENUM_ATTRIBUTES_CALLBACK callback,
                                          void* param);

}  // namespace quorlink
