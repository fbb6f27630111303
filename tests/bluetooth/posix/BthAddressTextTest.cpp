#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "platform/posix/BthAddressText.h"

namespace quorlink::platform::posix {
namespace {

SOCKADDR* AsSockaddr(SOCKADDR_BTH& a) {
  return reinterpret_cast<SOCKADDR*>(&a);
}

int ToAddress(const char* text, SOCKADDR_BTH& out) {
  INT length = sizeof out;
  return BthStringToAddress(text, AF_BTH, AsSockaddr(out), &length);
}

std::string ToText(SOCKADDR_BTH record) {
  char buffer[256];
  DWORD length = sizeof buffer;
  EXPECT_EQ(BthAddressToString(AsSockaddr(record), sizeof record, buffer, &length), 0);
  EXPECT_EQ(length, std::strlen(buffer) + 1);
  return buffer;
}

SOCKADDR_BTH Record(BTH_ADDR address, ULONG port) {
  SOCKADDR_BTH r{};
  r.addressFamily = AF_BTH;
  r.btAddr = address;
  r.port = port;
  return r;
}

TEST(BthAddressText, MostSignificantByteFirst) {
  SOCKADDR_BTH r;
  std::memset(&r, 0xAB, sizeof r);
  ASSERT_EQ(ToAddress("(00:11:22:33:44:55)", r), 0);
  EXPECT_EQ(r.addressFamily, AF_BTH);
  EXPECT_EQ(+r.btAddr, 0x001122334455ULL);
  EXPECT_EQ(+r.port, 0u);
  EXPECT_EQ(GUID{r.serviceClassId}, GUID{});
  EXPECT_EQ(ToText(Record(0x001122334455ULL, 0)), "(00:11:22:33:44:55)");
}

TEST(BthAddressText, EitherCaseAndBareFormAreRead) {
  SOCKADDR_BTH r{};
  ASSERT_EQ(ToAddress("(0a:0B:cC:Dd:ee:FF)", r), 0);
  EXPECT_EQ(+r.btAddr, 0x0A0BCCDDEEFFULL);
  ASSERT_EQ(ToAddress("0a:0B:cC:Dd:ee:FF", r), 0);
  EXPECT_EQ(+r.btAddr, 0x0A0BCCDDEEFFULL);
  EXPECT_EQ(ToText(r), "(0A:0B:CC:DD:EE:FF)");
}

TEST(BthAddressText, ChannelSuffixOnlyWhereTheRecordCarriesOne) {
  EXPECT_EQ(ToText(Record(0xFFFFFFFFFFFFULL, 1)), "(FF:FF:FF:FF:FF:FF):1");
  EXPECT_EQ(ToText(Record(1, 30)), "(00:00:00:00:00:01):30");
  EXPECT_EQ(ToText(Record(0, BT_PORT_ANY)), "(00:00:00:00:00:00):4294967295");
  SOCKADDR_BTH r{};
  ASSERT_EQ(ToAddress("(00:00:00:00:00:01):30", r), 0);
  EXPECT_EQ(+r.btAddr, 1u);
  EXPECT_EQ(+r.port, 30u);
  ASSERT_EQ(ToAddress("00:00:00:00:00:02:4294967295", r), 0);
  EXPECT_EQ(+r.btAddr, 2u);
  EXPECT_EQ(+r.port, BT_PORT_ANY);
}

TEST(BthAddressText, RoundTripsEveryAddressAndChannel) {
  std::mt19937_64 random(7);
  std::vector<std::pair<BTH_ADDR, ULONG>> cases = {
      {0, 0}, {0xFFFFFFFFFFFFULL, 0}, {0x800000000000ULL, 1}, {0x000000000001ULL, BT_PORT_ANY}};
  for (int bit = 0; bit < 48; ++bit) cases.push_back({BTH_ADDR{1} << bit, 0});
  for (int i = 0; i < 2000; ++i) {
    cases.push_back(
        {random() & 0xFFFFFFFFFFFFULL, static_cast<ULONG>(random() % 3 ? 0 : random())});
  }
  for (auto [address, port] : cases) {
    const std::string text = ToText(Record(address, port));
    SOCKADDR_BTH back{};
    ASSERT_EQ(ToAddress(text.c_str(), back), 0) << text;
    EXPECT_EQ(+back.btAddr, address) << text;
    EXPECT_EQ(+back.port, port) << text;
    EXPECT_EQ(ToText(back), text);
  }
}

TEST(BthAddressText, MalformedTextIsAnInvalidArgument) {
  const char* bad[] = {"",
                       "(",
                       "()",
                       "(00:11:22:33:44:55",
                       "00:11:22:33:44:55)",
                       "(00:11:22:33:44:55) ",
                       " (00:11:22:33:44:55)",
                       "(00-11-22-33-44-55)",
                       "[00:11:22:33:44:55]",
                       "(0G:11:22:33:44:55)",
                       "( 0:11:22:33:44:55)",
                       "(+0:11:22:33:44:55)",
                       "(000:11:22:33:44:55)",
                       "(00:11:22:33:44)",
                       "(00:11:22:33:44:55:66)",
                       "00:11:22:33:44:5",
                       "(00:11:22:33:44:55):",
                       "(00:11:22:33:44:55):0",
                       "(00:11:22:33:44:55):07",
                       "(00:11:22:33:44:55):4294967296",
                       "(00:11:22:33:44:55):99999999999",
                       "(00:11:22:33:44:55):-1",
                       "(00:11:22:33:44:55):+1",
                       "(00:11:22:33:44:55);1",
                       "(00:11:22:33:44:55)1"};
  for (const char* text : bad) {
    SOCKADDR_BTH r = Record(0x1234, 9);
    EXPECT_EQ(ToAddress(text, r), WSAEINVAL) << '"' << text << '"';
    EXPECT_EQ(+r.btAddr, 0x1234u) << "record untouched on failure";
  }
}

TEST(BthAddressText, EmbeddedZeroEndsTheText) {
  const char text[] = "(00:11:22:33:44:55)\0:5";
  SOCKADDR_BTH r{};
  ASSERT_EQ(ToAddress(text, r), 0);
  EXPECT_EQ(+r.port, 0u);
}

TEST(BthAddressText, StringToAddressChecksItsArguments) {
  SOCKADDR_BTH r{};
  INT length = sizeof r;
  EXPECT_EQ(BthStringToAddress(nullptr, AF_BTH, AsSockaddr(r), &length), WSAEFAULT);
  EXPECT_EQ(BthStringToAddress("(00:11:22:33:44:55)", AF_BTH, AsSockaddr(r), nullptr), WSAEFAULT);
  EXPECT_EQ(BthStringToAddress("(00:11:22:33:44:55)", 2, AsSockaddr(r), &length), WSAEINVAL);
  length = 29;
  EXPECT_EQ(BthStringToAddress("(00:11:22:33:44:55)", AF_BTH, AsSockaddr(r), &length), WSAEFAULT);
  EXPECT_EQ(length, 30) << "says how much it needs";
  length = 64;
  EXPECT_EQ(BthStringToAddress("(00:11:22:33:44:55)", AF_BTH, AsSockaddr(r), &length), 0);
  EXPECT_EQ(length, 30);
}

TEST(BthAddressText, AddressToStringChecksItsArguments) {
  SOCKADDR_BTH r = Record(0x001122334455ULL, 5);
  char buffer[32];
  DWORD length = sizeof buffer;
  EXPECT_EQ(BthAddressToString(nullptr, 30, buffer, &length), WSAEFAULT);
  EXPECT_EQ(BthAddressToString(AsSockaddr(r), 29, buffer, &length), WSAEFAULT);
  EXPECT_EQ(BthAddressToString(AsSockaddr(r), 30, buffer, nullptr), WSAEFAULT);

  length = 21;  // "(00:11:22:33:44:55):5" is 21 characters and a zero
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(BthAddressToString(AsSockaddr(r), 30, buffer, &length), WSAEFAULT);
  EXPECT_EQ(length, 22u);
  EXPECT_EQ(buffer[0], 'x') << "nothing written into a short buffer";
  length = 22;
  EXPECT_EQ(BthAddressToString(AsSockaddr(r), 30, buffer, &length), 0);
  EXPECT_STREQ(buffer, "(00:11:22:33:44:55):5");

  length = sizeof buffer;
  r.addressFamily = 2;
  EXPECT_EQ(BthAddressToString(AsSockaddr(r), 30, buffer, &length), WSAEINVAL);
  r = Record(0x1000000000000ULL, 0);  // wider than 48 bits: no text gives it back
  EXPECT_EQ(BthAddressToString(AsSockaddr(r), 30, buffer, &length), WSAEINVAL);
}

// Inputs the fuzzer found. The first call bound a reference to the packed
// record's 64-bit field, which is misaligned (the sanitizer build catches it).
TEST(BthAddressText, FuzzFoundInputs) {
  const std::pair<const char*, int> inputs[] = {{"", WSAEINVAL}, {"(00:11:22:33:44:55)", 0}};
  for (auto [text, expected] : inputs) {
    alignas(8) unsigned char storage[40] = {};
    SOCKADDR* unaligned = reinterpret_cast<SOCKADDR*>(storage + 1);
    INT length = 30;
    EXPECT_EQ(BthStringToAddress(text, AF_BTH, unaligned, &length), expected) << text;
  }
}

}  // namespace
}  // namespace quorlink::platform::posix
