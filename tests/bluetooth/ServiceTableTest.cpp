#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothAPI.h"

namespace quorlink {
namespace {

struct Row {
  const GUID* constant;
  const char* name;
  std::uint16_t number;
};

// The assigned numbers, written out independently of the constants.
const Row kRows[] = {
    {&ServiceDiscoveryServerServiceClassID_UUID, "ServiceDiscoveryServerServiceClassID", 0x1000},
    {&BrowseGroupDescriptorServiceClassID_UUID, "BrowseGroupDescriptorServiceClassID", 0x1001},
    {&PublicBrowseGroupServiceClass_UUID, "PublicBrowseGroupServiceClass", 0x1002},
    {&SerialPortServiceClass_UUID, "SerialPortServiceClass", 0x1101},
    {&LANAccessUsingPPPServiceClass_UUID, "LANAccessUsingPPPServiceClass", 0x1102},
    {&DialupNetworkingServiceClass_UUID, "DialupNetworkingServiceClass", 0x1103},
    {&IrMCSyncServiceClass_UUID, "IrMCSyncServiceClass", 0x1104},
    {&OBEXObjectPushServiceClass_UUID, "OBEXObjectPushServiceClass", 0x1105},
    {&OBEXFileTransferServiceClass_UUID, "OBEXFileTransferServiceClass", 0x1106},
    {&IrMCSyncCommandServiceClass_UUID, "IrMCSyncCommandServiceClass", 0x1107},
    {&HeadsetServiceClass_UUID, "HeadsetServiceClass", 0x1108},
    {&CordlessTelephonyServiceClass_UUID, "CordlessTelephonyServiceClass", 0x1109},
    {&AudioSourceServiceClass_UUID, "AudioSourceServiceClass", 0x110A},
    {&AudioSinkServiceClass_UUID, "AudioSinkServiceClass", 0x110B},
    {&AVRemoteControlTargetServiceClass_UUID, "AVRemoteControlTargetServiceClass", 0x110C},
    {&AdvancedAudioDistributionServiceClass_UUID, "AdvancedAudioDistributionServiceClass", 0x110D},
    {&AVRemoteControlServiceClass_UUID, "AVRemoteControlServiceClass", 0x110E},
    {&VideoConferencingServiceClass_UUID, "VideoConferencingServiceClass", 0x110F},
    {&IntercomServiceClass_UUID, "IntercomServiceClass", 0x1110},
    {&FaxServiceClass_UUID, "FaxServiceClass", 0x1111},
    {&HeadsetAudioGatewayServiceClass_UUID, "HeadsetAudioGatewayServiceClass", 0x1112},
    {&WAPServiceClass_UUID, "WAPServiceClass", 0x1113},
    {&WAPClientServiceClass_UUID, "WAPClientServiceClass", 0x1114},
    {&PANUServiceClass_UUID, "PANUServiceClass", 0x1115},
    {&NAPServiceClass_UUID, "NAPServiceClass", 0x1116},
    {&GNServiceClass_UUID, "GNServiceClass", 0x1117},
    {&DirectPrintingServiceClass_UUID, "DirectPrintingServiceClass", 0x1118},
    {&ReferencePrintingServiceClass_UUID, "ReferencePrintingServiceClass", 0x1119},
    {&ImagingServiceClass_UUID, "ImagingServiceClass", 0x111A},
    {&ImagingResponderServiceClass_UUID, "ImagingResponderServiceClass", 0x111B},
    {&ImagingAutomaticArchiveServiceClass_UUID, "ImagingAutomaticArchiveServiceClass", 0x111C},
    {&ImagingReferenceObjectsServiceClass_UUID, "ImagingReferenceObjectsServiceClass", 0x111D},
    {&HandsfreeServiceClass_UUID, "HandsfreeServiceClass", 0x111E},
    {&HandsfreeAudioGatewayServiceClass_UUID, "HandsfreeAudioGatewayServiceClass", 0x111F},
    {&DirectPrintingReferenceObjectsServiceClass_UUID, "DirectPrintingReferenceObjectsServiceClass",
     0x1120},
    {&ReflectedUIServiceClass_UUID, "ReflectedUIServiceClass", 0x1121},
    {&BasicPringingServiceClass_UUID, "BasicPringingServiceClass", 0x1122},
    {&PrintingStatusServiceClass_UUID, "PrintingStatusServiceClass", 0x1123},
    {&HumanInterfaceDeviceServiceClass_UUID, "HumanInterfaceDeviceServiceClass", 0x1124},
    {&HardcopyCableReplacementServiceClass_UUID, "HardcopyCableReplacementServiceClass", 0x1125},
    {&HCRPrintServiceClass_UUID, "HCRPrintServiceClass", 0x1126},
    {&HCRScanServiceClass_UUID, "HCRScanServiceClass", 0x1127},
    {&CommonISDNAccessServiceClass_UUID, "CommonISDNAccessServiceClass", 0x1128},
    {&VideoConferencingGWServiceClass_UUID, "VideoConferencingGWServiceClass", 0x1129},
    {&UDIMTServiceClass_UUID, "UDIMTServiceClass", 0x112A},
    {&UDITAServiceClass_UUID, "UDITAServiceClass", 0x112B},
    {&AudioVideoServiceClass_UUID, "AudioVideoServiceClass", 0x112C},
    {&PnPInformationServiceClass_UUID, "PnPInformationServiceClass", 0x1200},
    {&GenericNetworkingServiceClass_UUID, "GenericNetworkingServiceClass", 0x1201},
    {&GenericFileTransferServiceClass_UUID, "GenericFileTransferServiceClass", 0x1202},
    {&GenericAudioServiceClass_UUID, "GenericAudioServiceClass", 0x1203},
    {&GenericTelephonyServiceClass_UUID, "GenericTelephonyServiceClass", 0x1204},
};

// The 16 bytes as they lie in memory: 0000NNNN-0000-1000-8000-00805F9B34FB.
std::array<std::uint8_t, 16> BaseUuidBytes(std::uint16_t n) {
  return {static_cast<std::uint8_t>(n & 0xFF),
          static_cast<std::uint8_t>(n >> 8),
          0,
          0,
          0,
          0,
          0x00,
          0x10,
          0x80,
          0x00,
          0x00,
          0x80,
          0x5F,
          0x9B,
          0x34,
          0xFB};
}

std::array<std::uint8_t, 16> Bytes(const GUID& g) {
  std::array<std::uint8_t, 16> b;
  std::memcpy(b.data(), &g, 16);
  return b;
}

TEST(ServiceTable, EveryRowMatchesItsNumberNameAndConstant) {
  static_assert(sizeof(kRows) / sizeof(kRows[0]) == 52);
  ASSERT_EQ(QuorServiceGUIDsName.size(), 52u);
  for (std::size_t i = 0; i < 52; ++i) {
    const auto& row = QuorServiceGUIDsName[i];
    EXPECT_STREQ(row.Name, kRows[i].name) << "row " << i;
    EXPECT_EQ(Bytes(row.GUID), BaseUuidBytes(kRows[i].number)) << "row " << i;
    EXPECT_EQ(Bytes(*kRows[i].constant), BaseUuidBytes(kRows[i].number)) << kRows[i].name;
  }
}

TEST(ServiceTable, NamesAndGuidsAreUnique) {
  std::set<std::string> names;
  std::set<std::array<std::uint8_t, 16>> guids;
  for (const auto& row : QuorServiceGUIDsName) {
    names.insert(row.Name);
    guids.insert(Bytes(row.GUID));
  }
  EXPECT_EQ(names.size(), 52u);
  EXPECT_EQ(guids.size(), 52u);
}

TEST(ServiceTable, RowSevenIsTheDefaultService) {
  EXPECT_STREQ(QuorServiceGUIDsName[7].Name, "OBEXObjectPushServiceClass");
  EXPECT_EQ(QuorServiceGUIDsName[3].GUID.Data1, 0x00001101u);
}

TEST(BluetoothConstants, ProtocolUuids) {
  const std::pair<const GUID*, std::uint16_t> protocols[] = {
      {&SDP_PROTOCOL_UUID, 0x0001},         {&UDP_PROTOCOL_UUID, 0x0002},
      {&RFCOMM_PROTOCOL_UUID, 0x0003},      {&TCP_PROTOCOL_UUID, 0x0004},
      {&TCSBIN_PROTOCOL_UUID, 0x0005},      {&TCSAT_PROTOCOL_UUID, 0x0006},
      {&OBEX_PROTOCOL_UUID, 0x0008},        {&IP_PROTOCOL_UUID, 0x0009},
      {&FTP_PROTOCOL_UUID, 0x000A},         {&HTTP_PROTOCOL_UUID, 0x000C},
      {&WSP_PROTOCOL_UUID, 0x000E},         {&BNEP_PROTOCOL_UUID, 0x000F},
      {&UPNP_PROTOCOL_UUID, 0x0010},        {&HID_PROTOCOL_UUID, 0x0011},
      {&HCCC_PROTOCOL_UUID, 0x0012},        {&HCDC_PROTOCOL_UUID, 0x0014},
      {&HN_PROTOCOL_UUID, 0x0016},          {&AVCTP_PROTOCOL_UUID, 0x0017},
      {&AVDTP_PROTOCOL_UUID, 0x0019},       {&CMPT_PROTOCOL_UUID, 0x001B},
      {&UDI_C_PLANE_PROTOCOL_UUID, 0x001D}, {&L2CAP_PROTOCOL_UUID, 0x0100},
  };
  for (auto [guid, number] : protocols) EXPECT_EQ(Bytes(*guid), BaseUuidBytes(number)) << number;
}

TEST(BluetoothConstants, DeviceInterfaceAndEventGuidsByteForByte) {
  // Memory layout of a GUID: the first three groups little-endian.
  EXPECT_EQ(Bytes(GUID_BTHPORT_DEVICE_INTERFACE),
            (std::array<std::uint8_t, 16>{0x2A, 0x30, 0x50, 0x08, 0x44, 0xB3, 0xDA, 0x4F, 0x9B,
                                          0xE9, 0x90, 0x57, 0x6B, 0x8D, 0x46, 0xF0}));
  EXPECT_EQ(GUID_BLUETOOTH_RADIO_IN_RANGE,
            (GUID{0xEA3B5B82, 0x26EE, 0x450E, {0xB0, 0xD8, 0xD2, 0x6F, 0xE3, 0x0A, 0x38, 0x69}}));
  EXPECT_EQ(GUID_BLUETOOTH_RADIO_OUT_OF_RANGE,
            (GUID{0xE28867C9, 0xC2AA, 0x4CED, {0xB9, 0x69, 0x45, 0x70, 0x86, 0x60, 0x37, 0xC4}}));
  EXPECT_EQ(GUID_BLUETOOTH_PIN_REQUEST,
            (GUID{0xBD198B7C, 0x24AB, 0x4B9A, {0x8C, 0x0D, 0xA8, 0xEA, 0x83, 0x49, 0xAA, 0x16}}));
  EXPECT_EQ(GUID_BLUETOOTH_L2CAP_EVENT,
            (GUID{0x7EAE4030, 0xB709, 0x4AA8, {0xAC, 0x55, 0xE9, 0x53, 0x82, 0x9C, 0x9D, 0xAA}}));
  EXPECT_EQ(GUID_BLUETOOTH_HCI_EVENT,
            (GUID{0xFC240062, 0x1541, 0x49BE, {0xB4, 0x63, 0x84, 0xC4, 0xDC, 0xD7, 0xBF, 0x7F}}));
  EXPECT_EQ(SVCID_BTH_PROVIDER,
            (GUID{0x06AA63E0, 0x7D60, 0x41FF, {0xAF, 0xB2, 0x3E, 0xE6, 0xD2, 0xD9, 0x39, 0x2D}}));
}

TEST(BluetoothConstants, AddressesAndRecordLayouts) {
  EXPECT_EQ(BLUETOOTH_NULL_ADDRESS, 0u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(in6addr_any.u.Byte[i], 0);
    EXPECT_EQ(IN6ADDR_ANY_INIT.u.Byte[i], 0);
    EXPECT_EQ(in6addr_loopback.u.Byte[i], i == 15 ? 1 : 0);
    EXPECT_EQ(IN6ADDR_LOOPBACK_INIT.u.Byte[i], i == 15 ? 1 : 0);
  }
  EXPECT_EQ(sizeof(SOCKADDR_BTH), 30u);
  EXPECT_EQ(sizeof(SOCKADDR_IN6), 28u);
  EXPECT_EQ(sizeof(WSAPROTOCOL_INFOA), 372u);
  EXPECT_EQ(sizeof(BLUETOOTH_RADIO_INFO), 520u);
  EXPECT_EQ(sizeof(BLUETOOTH_DEVICE_INFO), 560u);
  EXPECT_EQ(offsetof(BLUETOOTH_DEVICE_INFO, szName), 64u);
  EXPECT_EQ(offsetof(BLUETOOTH_RADIO_INFO, address), 8u);
  EXPECT_EQ(sizeof(WSAECOMPARATOR), 4u);  // a plain C enumeration in the SDK
  EXPECT_EQ(sizeof(WSAESETSERVICEOP), 4u);
  EXPECT_EQ(sizeof(WSACOMPLETIONTYPE), 4u);
  EXPECT_EQ(INVALID_SOCKET, ~SOCKET{0});
  EXPECT_EQ(RNRSERVICE_DELETE, 2);
  EXPECT_EQ(NS_BTH, 16u);
  EXPECT_EQ(SO_PROTOCOL_INFOA, 0x2004);
  EXPECT_EQ(win32::kSolSocket, 0xFFFF);
  EXPECT_EQ(QUORM_SOCKET_EVENT, 0x501u);
}

TEST(BluetoothConstants, EnumerationTypeInformation) {
  EXPECT_EQ(TypeInfoWSACOMPLETIONTYPE().EnumNames,
            (std::vector<std::string>{"NSP_NOTIFY_IMMEDIATELY", "NSP_NOTIFY_HWND",
                                      "NSP_NOTIFY_EVENT", "NSP_NOTIFY_PORT", "NSP_NOTIFY_APC"}));
  EXPECT_EQ(NSP_NOTIFY_APC, 4);
  EXPECT_EQ(TypeInfoWSAECOMPARATOR().EnumNames,
            (std::vector<std::string>{"COMP_EQUAL", "COMP_NOTLESS"}));
  EXPECT_EQ(TypeInfoWSAESETSERVICEOP().EnumNames,
            (std::vector<std::string>{"RNRSERVICE_REGISTER", "RNRSERVICE_DEREGISTER",
                                      "RNRSERVICE_DELETE"}));
  EXPECT_EQ(
      TypeInfoNONECONTAINERTYPE().EnumNames,
      (std::vector<std::string>{"NODECONTAINERTYPESEQUENCE", "NODECONTAINERTYPEAALERNATIVE"}));
  EXPECT_EQ(TypeInfoNONECONTAINERTYPE().Name, "NONECONTAINERTYPE");
}

}  // namespace
}  // namespace quorlink
