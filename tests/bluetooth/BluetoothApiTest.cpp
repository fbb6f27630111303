// The helpers of the Bluetooth API module, called in parentheses as a program
// must where the system makes the same names macros: the library's own
// functions are what runs, on every system.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "quorlink/bluetooth/QuorBluetoothAPI.h"

namespace quorlink {
namespace {

in6_addr Addr(std::initializer_list<std::pair<int, UCHAR>> bytes) {
  in6_addr a{};
  for (auto [i, b] : bytes) a.u.Byte[i] = b;
  return a;
}

TEST(BluetoothApiAddress, NapAndSapSplitAndJoin) {
  EXPECT_EQ((SET_NAP_SAP)(0x0011, 0x22334455), 0x0000001122334455ULL);
  EXPECT_EQ((GET_NAP)(0x0000001122334455ULL), 0x0011u);
  EXPECT_EQ((GET_SAP)(0x0000001122334455ULL), 0x22334455u);
  EXPECT_EQ((SET_NAP)(0xFFFF), 0x0000FFFF00000000ULL);
  EXPECT_EQ((SET_SAP)(0xFFFFFFFF), 0x00000000FFFFFFFFULL) << "zero-extended";
  EXPECT_EQ((GET_NAP)(0xFFFFFFFFFFFFFFFFULL), 0xFFFFu) << "bits above 48 are not the NAP";
  EXPECT_EQ((GET_SAP)(0xFFFFFFFFFFFFFFFFULL), 0xFFFFFFFFu);
}

TEST(BluetoothApiClassOfDevice, GettersMaskAndShift) {
  const DWORD all = 0xFFFFFFFF;
  EXPECT_EQ((GET_COD_FORMAT)(all), 0x3u);
  EXPECT_EQ((GET_COD_MINOR)(all), 0x3Fu);
  EXPECT_EQ((GET_COD_MAJOR)(all), 0x1Fu);
  EXPECT_EQ((GET_COD_SERVICE)(all), 0x7FFu);
  EXPECT_EQ((GET_COD_LAN_MINOR)(all), 0x7u);
  EXPECT_EQ((GET_COD_LAN_ACCESS)(all), 0x7u);
  EXPECT_EQ((GET_COD_MAJOR)(0x000100), 1u);
  EXPECT_EQ((GET_COD_SERVICE)(0x002000), 1u);
  EXPECT_EQ((GET_COD_MINOR)(0x000004), 1u);
  EXPECT_EQ((GET_COD_LAN_ACCESS)(0x000020), 1u);
}

TEST(BluetoothApiClassOfDevice, SettersKeepOtherFieldsAndDoNotMaskTheValue) {
  DWORD cod = 0xFFFFFFFF;
  (SET_COD_MINOR)(cod, 0);
  EXPECT_EQ(cod, 0xFFFFFF03u);
  cod = 0;
  (SET_COD_MINOR)(cod, 0x41);  // bit 6 of the value lands in the major field
  EXPECT_EQ(cod, 0x104u);
  cod = 0xFFFFFFFF;
  (SET_COD_MAJOR)(cod, 0);
  EXPECT_EQ(cod, 0xFFFFE0FFu);
  cod = 0;
  (SET_COD_MAJOR)(cod, 0x3F);
  EXPECT_EQ(cod, 0x3F00u);
  cod = 0xFFFFFFFF;
  (SET_COD_SERVICE)(cod, 0);
  EXPECT_EQ(cod, 0xFF001FFFu);
  cod = 0x3;
  (SET_COD_SERVICE)(cod, 0x801);
  EXPECT_EQ(cod, 0x01002003u);
}

TEST(BluetoothApiBits, TruthValuesHaveAllBitsSet) {
  EXPECT_EQ((BTH_ERROR)(0), 0);
  EXPECT_EQ(static_cast<DWORD>((BTH_ERROR)(1)), 0xFFFFFFFFu);
  EXPECT_EQ(static_cast<DWORD>((BTH_ERROR)(0xFF)), 0xFFFFFFFFu);
  EXPECT_EQ(static_cast<DWORD>((BTH_SUCCESS)(0)), 0xFFFFFFFFu);
  EXPECT_EQ((BTH_SUCCESS)(0x80), 0);
}

TEST(BluetoothApiBits, GetBitsShiftsInZeros) {
  EXPECT_EQ((GET_BITS)(INT_MIN, 31, 1), 1);
  EXPECT_EQ((GET_BITS)(-1, 28, -1), 0xF) << "logical, not arithmetic";
  EXPECT_EQ((GET_BITS)(-1, 0, -1), -1);
  EXPECT_EQ((GET_BITS)(0x12345678, 8, 0xFF), 0x56);
  EXPECT_EQ((GET_BIT)(0x4, 2), 1);
  EXPECT_EQ((GET_BIT)(0x4, 1), 0);
  EXPECT_EQ((BIT)(0), 1);
  EXPECT_EQ((BIT)(31), INT_MIN);
  EXPECT_EQ((GET_BITS)(-1, 32, -1), 0) << "every bit shifted out";
  EXPECT_EQ((BIT)(32), 0);
  EXPECT_EQ((BIT)(-1), 0);
}

TEST(BluetoothApiBits, LmpFeatureBits) {
  std::int32_t (*const features[])(std::int32_t) = {LMP_3_SLOT_PACKETS,
                                                    LMP_5_SLOT_PACKETS,
                                                    LMP_ENCRYPTION,
                                                    LMP_SLOT_OFFSET,
                                                    LMP_TIMING_ACCURACY,
                                                    LMP_SWITCH,
                                                    LMP_HOLD_MODE,
                                                    LMP_SNIFF_MODE,
                                                    LMP_PARK_MODE,
                                                    LMP_RSSI,
                                                    LMP_CHANNEL_QUALITY_DRIVEN_MODE,
                                                    LMP_SCO_LINK,
                                                    LMP_HV2_PACKETS,
                                                    LMP_HV3_PACKETS,
                                                    LMP_MU_LAW_LOG,
                                                    LMP_A_LAW_LOG,
                                                    LMP_CVSD,
                                                    LMP_PAGING_SCHEME,
                                                    LMP_POWER_CONTROL,
                                                    LMP_TRANSPARENT_SCO_DATA};
  for (int bit = 0; bit < 20; ++bit) {
    for (int probe = 0; probe < 32; ++probe) {
      EXPECT_EQ(features[bit]((BIT)(probe)), probe == bit ? 1 : 0) << "feature " << bit;
    }
    EXPECT_EQ(features[bit](~(BIT)(bit)), 0);
  }
  EXPECT_EQ((LMP_FLOW_CONTROL_LAG)(0x00300000), 3);
  EXPECT_EQ((LMP_FLOW_CONTROL_LAG)(0x00100000), 1);
  EXPECT_EQ((LMP_FLOW_CONTROL_LAG)(0x00200000), 2);
  EXPECT_EQ((LMP_FLOW_CONTROL_LAG)(~0x00300000), 0);
}

TEST(BluetoothApiFdSet, SetIgnoresDuplicatesAndAFullSet) {
  fd_set set;
  set.fd_count = 17;
  (FD_ZERO)(set);
  EXPECT_EQ(set.fd_count, 0u);
  (_FD_SET)(5, set);
  (_FD_SET)(5, set);
  EXPECT_EQ(set.fd_count, 1u);
  for (SOCKET s = 100; set.fd_count < 64; ++s) (_FD_SET)(s, set);
  fd_set before = set;
  (_FD_SET)(99999, set);
  EXPECT_EQ(set.fd_count, 64u);
  EXPECT_EQ(std::memcmp(&before, &set, sizeof set), 0);
  (_FD_SET)(INVALID_SOCKET, set);
  EXPECT_EQ(set.fd_count, 64u);
}

TEST(BluetoothApiFdSet, ClrShiftsLaterEntriesDown) {
  fd_set set;
  (FD_ZERO)(set);
  (_FD_SET)(1, set);
  (_FD_SET)(2, set);
  (_FD_SET)(3, set);
  (FD_CLR)(1, set);
  ASSERT_EQ(set.fd_count, 2u);
  EXPECT_EQ(set.fd_array[0], 2u);
  EXPECT_EQ(set.fd_array[1], 3u);
  (FD_CLR)(42, set);
  EXPECT_EQ(set.fd_count, 2u);
  (FD_CLR)(3, set);
  ASSERT_EQ(set.fd_count, 1u);
  EXPECT_EQ(set.fd_array[0], 2u);
  // Entries past the count do not count.
  set.fd_array[1] = 9;
  (FD_CLR)(9, set);
  EXPECT_EQ(set.fd_count, 1u);
}

TEST(BluetoothApiFdSet, ClrRemovesOnlyTheFirstOfDuplicates) {
  fd_set set;
  set.fd_count = 3;
  set.fd_array[0] = 7;
  set.fd_array[1] = 8;
  set.fd_array[2] = 7;
  (FD_CLR)(7, set);
  ASSERT_EQ(set.fd_count, 2u);
  EXPECT_EQ(set.fd_array[0], 8u);
  EXPECT_EQ(set.fd_array[1], 7u);
}

// A count beyond the array, from a set never cleared or damaged by its
// owner, must never take a scan or a move outside the 64 entries.
TEST(BluetoothApiFdSet, CountBeyondTheArrayStaysInside) {
  struct Guarded {
    fd_set set;
    SOCKET after[80];
  } g{};
  for (SOCKET i = 0; i < 64; ++i) g.set.fd_array[i] = 1000 + i;
  for (SOCKET& a : g.after) a = 0xA5A5;
  for (UINT count : {65u, 100u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    g.set.fd_count = count;
    (_FD_SET)(7, g.set);
    EXPECT_EQ(g.set.fd_count, count) << "a full set takes nothing";
    (FD_CLR)(424242, g.set);
    EXPECT_EQ(g.set.fd_count, count);
    (FD_CLR)(1000 + 63, g.set);
    EXPECT_EQ(g.set.fd_count, count - 1);
    g.set.fd_array[63] = 1000 + 63;
    EXPECT_TRUE((FD_ISSET)(1000 + 63, g.set));
    EXPECT_FALSE((FD_ISSET)(0xA5A5, g.set));
  }
  (FD_CLR)(1000, g.set);  // the first entry: the rest move down inside the array
  EXPECT_EQ(g.set.fd_array[0], 1001u);
  EXPECT_EQ(g.set.fd_array[62], 1063u);
  for (SOCKET a : g.after) ASSERT_EQ(a, 0xA5A5u);
}

TEST(BluetoothApiFdSet, IsSetAsksThePlatform) {
  fd_set set;
  (FD_ZERO)(set);
  (_FD_SET)(4, set);
  EXPECT_TRUE((FD_ISSET)(4, set));
  EXPECT_FALSE((FD_ISSET)(5, set));
}

TEST(BluetoothApiTime, TimerHelpers) {
  timeval tv{0, 0};
  EXPECT_FALSE((timerisset)(tv));
  tv.tv_usec = 1;
  EXPECT_TRUE((timerisset)(tv));
  tv = {-1, 0};
  EXPECT_TRUE((timerisset)(tv));
  (timerclear)(tv);
  EXPECT_EQ(tv.tv_sec, 0);
  EXPECT_EQ(tv.tv_usec, 0);
}

TEST(BluetoothApiIoctl, CodesAndParameterSizeMask) {
  EXPECT_EQ((_IO)('f', 126), 0x2000667Eu);
  EXPECT_EQ((_IOR)('t', 115, 4), 0x40047473u);
  EXPECT_EQ((_IOW)('s', 0, 4), 0x80047300u);
  EXPECT_EQ((_IOR)(0, 0, 0x80), 0x40000000u) << "only the low 7 bits of the size";
  EXPECT_EQ((_IOR)(0, 0, 0xFF), 0x40000000u | 0x7F0000u);
  EXPECT_EQ((_IOW)(0, 0, 0x81), 0x80000000u | 0x10000u);
  EXPECT_EQ((_WSAIO)(0x08000000, 1), 0x28000001u);
  EXPECT_EQ((_WSAIOR)(0x08000000, 2), 0x48000002u);
  EXPECT_EQ((_WSAIOW)(0x08000000, 3), 0x88000003u);
  EXPECT_EQ((_WSAIORW)(0x08000000, 4), 0xC8000004u);
}

TEST(BluetoothApiReply, PackAndUnpack) {
  EXPECT_EQ((WSAMAKESELECTREPLY)(0x20, 10054), 0x27460020u);
  EXPECT_EQ((WSAMAKEASYNCREPLY)(0xFFFF, 0xFFFF), 0xFFFFFFFFu);
  EXPECT_EQ((WSAGETSELECTEVENT)(0x27460020), 0x20);
  EXPECT_EQ((WSAGETSELECTERROR)(0x27460020), 10054);
  EXPECT_EQ((WSAGETASYNCBUFLEN)(0xABCD1234), 0x1234);
  EXPECT_EQ((WSAGETASYNCERROR)(0xABCD1234), 0xABCD);
}

TEST(BluetoothApiMisc, LangIdFilterSizeAndPort) {
  EXPECT_EQ((MAKELANGID)(LANG_NEUTRAL, SUBLANG_DEFAULT), 0x0400);
  EXPECT_EQ((MAKELANGID)(0x09, 0x02), 0x0809);
  EXPECT_EQ((IP_MSFILTER_SIZE)(0), 16);
  EXPECT_EQ((IP_MSFILTER_SIZE)(3), 28);
  EXPECT_EQ((IP_MSFILTER_SIZE)(-4), 0);
  const BYTE address[] = {2, 0, 0x1F, 0x90, 127, 0, 0, 1};
  const WORD port = (SS_PORT)(address);
  EXPECT_EQ(std::memcmp(&port, address + 2, 2), 0) << "as stored, no byte swap";
}

TEST(BluetoothApiIpv4, Classes) {
  EXPECT_TRUE((IN_CLASSA)(0x7FFFFFFF));
  EXPECT_FALSE((IN_CLASSA)(0x80000000));
  EXPECT_TRUE((IN_CLASSB)(0x80000000));
  EXPECT_TRUE((IN_CLASSB)(0xBFFFFFFF));
  EXPECT_FALSE((IN_CLASSB)(0xC0000000));
  EXPECT_TRUE((IN_CLASSC)(0xDFFFFFFF));
  EXPECT_FALSE((IN_CLASSC)(0xE0000000));
  EXPECT_TRUE((IN_CLASSD)(0xE0000000));
  EXPECT_TRUE((IN_MULTICAST)(0xEFFFFFFF));
  EXPECT_FALSE((IN_MULTICAST)(0xF0000000));
}

TEST(BluetoothApiIpv6, SetAnyAndLoopbackKeepTheScope) {
  SOCKADDR_IN6 a;
  std::memset(&a, 0xEE, sizeof a);
  a.sin6_scope_id = 7;
  (IN6ADDR_SETANY)(a);
  EXPECT_EQ(a.sin6_family, 23);
  EXPECT_EQ(a.sin6_port, 0);
  EXPECT_EQ(a.sin6_flowinfo, 0u);
  EXPECT_TRUE((IN6_IS_ADDR_UNSPECIFIED)(a.sin6_addr));
  EXPECT_EQ(a.sin6_scope_id, 7u);
  EXPECT_TRUE((IN6ADDR_ISANY)(a));
  EXPECT_FALSE((IN6ADDR_ISLOOPBACK)(a));
  (IN6ADDR_SETLOOPBACK)(a);
  EXPECT_EQ(a.sin6_scope_id, 7u);
  EXPECT_TRUE((IN6ADDR_ISLOOPBACK)(a));
  EXPECT_FALSE((IN6ADDR_ISANY)(a));
  a.sin6_family = 2;
  EXPECT_FALSE((IN6ADDR_ISLOOPBACK)(a));
}

TEST(BluetoothApiIpv6, AddressKinds) {
  EXPECT_TRUE((IN6_ADDR_EQUAL)(Addr({{3, 9}}), Addr({{3, 9}})));
  EXPECT_FALSE((IN6_ADDR_EQUAL)(Addr({{3, 9}}), Addr({{2, 9}})));
  EXPECT_TRUE((IN6_IS_ADDR_LOOPBACK)(Addr({{15, 1}})));
  EXPECT_FALSE((IN6_IS_ADDR_LOOPBACK)(Addr({{14, 1}})));
  EXPECT_TRUE((IN6_IS_ADDR_MULTICAST)(Addr({{0, 0xFF}})));
  EXPECT_FALSE((IN6_IS_ADDR_MULTICAST)(Addr({{0, 0xFE}})));
  EXPECT_TRUE((IN6_IS_ADDR_LINKLOCAL)(Addr({{0, 0xFE}, {1, 0x80}})));
  EXPECT_TRUE((IN6_IS_ADDR_LINKLOCAL)(Addr({{0, 0xFE}, {1, 0xBF}})));
  EXPECT_FALSE((IN6_IS_ADDR_LINKLOCAL)(Addr({{0, 0xFE}, {1, 0xC0}})));
  EXPECT_TRUE((IN6_IS_ADDR_SITELOCAL)(Addr({{0, 0xFE}, {1, 0xC0}})));
  EXPECT_FALSE((IN6_IS_ADDR_SITELOCAL)(Addr({{0, 0xFF}, {1, 0xC0}})));
  EXPECT_TRUE((IN6_IS_ADDR_V4MAPPED)(Addr({{10, 0xFF}, {11, 0xFF}, {15, 4}})));
  EXPECT_FALSE((IN6_IS_ADDR_V4MAPPED)(Addr({{9, 1}, {10, 0xFF}, {11, 0xFF}})));
  EXPECT_FALSE((IN6_IS_ADDR_V4MAPPED)(Addr({{10, 0xFF}})));
}

TEST(BluetoothApiIpv6, V4CompatExcludesAnyAndLoopback) {
  EXPECT_FALSE((IN6_IS_ADDR_V4COMPAT)(Addr({})));
  EXPECT_FALSE((IN6_IS_ADDR_V4COMPAT)(Addr({{15, 1}})));
  EXPECT_TRUE((IN6_IS_ADDR_V4COMPAT)(Addr({{15, 2}})));
  EXPECT_TRUE((IN6_IS_ADDR_V4COMPAT)(Addr({{12, 1}, {13, 2}, {14, 3}, {15, 4}})));
  EXPECT_TRUE((IN6_IS_ADDR_V4COMPAT)(Addr({{14, 1}})));
  EXPECT_TRUE((IN6_IS_ADDR_V4COMPAT)(Addr({{12, 1}, {15, 1}})));
  EXPECT_FALSE((IN6_IS_ADDR_V4COMPAT)(Addr({{11, 1}, {15, 4}})));
  EXPECT_FALSE((IN6_IS_ADDR_V4COMPAT)(Addr({{10, 0xFF}, {11, 0xFF}, {15, 4}})));
}

TEST(BluetoothApiIpv6, MulticastScopes) {
  bool (*const scopes[])(const in6_addr&) = {(IN6_IS_ADDR_MC_NODELOCAL), (IN6_IS_ADDR_MC_LINKLOCAL),
                                             (IN6_IS_ADDR_MC_SITELOCAL), (IN6_IS_ADDR_MC_ORGLOCAL),
                                             (IN6_IS_ADDR_MC_GLOBAL)};
  const UCHAR values[] = {0x1, 0x2, 0x5, 0x8, 0xE};
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 5; ++j) {
      EXPECT_EQ(scopes[i](Addr({{0, 0xFF}, {1, static_cast<UCHAR>(0xF0 | values[j])}})), i == j);
    }
    EXPECT_FALSE(scopes[i](Addr({{0, 0xFE}, {1, values[i]}}))) << "not multicast";
  }
}

TEST(BluetoothApiErrors, UnknownCodeGivesNull) {
  EXPECT_EQ(gai_strerrorA(123456), nullptr);
  EXPECT_EQ(gai_strerrorW(123456), nullptr);
  EXPECT_EQ(gai_strerrorA(-1), nullptr);
}

}  // namespace
}  // namespace quorlink
