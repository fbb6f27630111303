#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "OsTestSupport.h"
#include "bluetooth/AddressWinsock.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothAPI.h"
#include "quorlink/core/SysUtils.h"

namespace quorlink {
namespace {

// Lets a test put the transport in the active state without a radio.
class TestBluetooth final : public TQuorBluetooth {
 public:
  TestBluetooth() : TQuorBluetooth(nullptr) {}
  ~TestBluetooth() override { Active = false; }
  void SetActive(bool active) { Active = active; }
  void SetSocket(SOCKET s) { SocketHandle = s; }
  bool IsWinsockStarted() const { return WinsockStarted; }
  SOCKET Socket() const { return SocketHandle; }
};

template <class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

TEST(BluetoothComponent, ConstructorDefaults) {
  TestBluetooth bt;
  EXPECT_EQ(bt.GetAddress(), "(00:00:00:00:00:00)");
  EXPECT_EQ(bt.GetPort(), 4294967295u);
  EXPECT_EQ(bt.GetService(), "OBEXObjectPushServiceClass");
  EXPECT_EQ(bt.GetServiceGUID(), OBEXObjectPushServiceClass_UUID);
  EXPECT_EQ(bt.GetServiceComment(), "Quorlink OBEX Object Push Service");
  EXPECT_EQ(bt.GetServiceName(), "OBEX Object Push Service");
  EXPECT_EQ(bt.GetCategory(), tcBluetooth);
  EXPECT_EQ(bt.GetDescription(), "Bluetooth Transport");
  EXPECT_EQ(bt.GetFlags().Bits(), 3);
  EXPECT_EQ(bt.Socket(), INVALID_SOCKET);
  EXPECT_FALSE(bt.IsWinsockStarted());
  EXPECT_FALSE(bt.IsActive());
}

TEST(BluetoothComponent, PublishedPropertiesInOrderAndStored) {
  TestBluetooth bt;
  const TPropList props = bt.Properties();
  std::vector<std::string> names;
  for (const auto& p : props) names.push_back(p.Name);
  const std::vector<std::string> tail(names.end() - 5, names.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Address", "Port", "Service", "ServiceComment",
                                            "ServiceName"}));
  for (auto it = props.end() - 5; it != props.end(); ++it) EXPECT_TRUE(it->Stored) << it->Name;

  auto find = [&](const char* name) {
    return *std::find_if(props.begin(), props.end(), [&](auto& p) { return p.Name == name; });
  };
  find("Port").SetOrd(bt, 0);
  EXPECT_EQ(bt.GetPort(), 0u);
  find("Port").SetOrd(bt, 0xFFFFFFFF);
  EXPECT_EQ(find("Port").GetOrd(bt), 0xFFFFFFFF);
  find("Service").SetStr(bt, "SerialPortServiceClass");
  EXPECT_EQ(find("Service").GetStr(bt), "SerialPortServiceClass");
  find("Address").SetStr(bt, "(00:11:22:33:44:55)");
  EXPECT_EQ(find("Address").GetStr(bt), "(00:11:22:33:44:55)");
  find("ServiceComment").SetStr(bt, "c");
  find("ServiceName").SetStr(bt, "n");
  EXPECT_EQ(find("ServiceComment").GetStr(bt) + find("ServiceName").GetStr(bt), "cn");
}

TEST(BluetoothAddress, AcceptsTheSyntaxAndStoresItAsWritten) {
  TestBluetooth bt;
  for (const char* text : {"(00:11:22:33:44:55)", "(0a:0B:cC:Dd:ee:FF)", "(00:00:00:00:00:00)",
                           "(99:AA:ff:09:f0:0F)"}) {
    bt.SetAddress(text);
    EXPECT_EQ(bt.GetAddress(), text);
  }
}

TEST(BluetoothAddress, RejectsAnythingElseAndKeepsTheOldText) {
  TestBluetooth bt;
  bt.SetAddress("(00:11:22:33:44:55)");
  const std::string bad[] = {"00:11:22:33:44:55",
                             "(00:11:22:33:44:55) ",
                             "(00-11-22-33-44-55)",
                             "[00:11:22:33:44:55]",
                             "(0G:11:22:33:44:55)",
                             "( 0:11:22:33:44:55)",
                             "",
                             "(00:11:22:33:44:5g)",
                             "(00:11:22:33:44:55",
                             "(00:11:22:33:44:55]",
                             "(00:11:22:33:44;55)",
                             "(+0:11:22:33:44:55)",
                             "(-0:11:22:33:44:55)",
                             "($0:11:22:33:44:55)",
                             "(0x:11:22:33:44:55)",
                             "(00:11:22:33:44:55):1",
                             std::string("(00:11:22:33:44:5\0)", 19)};
  for (const std::string& text : bad) {
    EXPECT_EQ(MessageOf([&] { bt.SetAddress(text); }), "Invalid argument.") << '"' << text << '"';
    EXPECT_EQ(bt.GetAddress(), "(00:11:22:33:44:55)");
  }
}

TEST(BluetoothAddress, CaseCountsAsAChange) {
  TestBluetooth bt;
  bt.SetAddress("(00:11:22:33:44:5a)");
  bt.SetActive(true);
  EXPECT_EQ(MessageOf([&] { bt.SetAddress("(00:11:22:33:44:5A)"); }), "Transport active.");
  bt.SetActive(false);
  bt.SetAddress("(00:11:22:33:44:5A)");
  EXPECT_EQ(bt.GetAddress(), "(00:11:22:33:44:5A)");
}

TEST(BluetoothSetters, ActiveCheckComesBeforeValidation) {
  TestBluetooth bt;
  bt.SetActive(true);
  EXPECT_EQ(MessageOf([&] { bt.SetAddress("garbage"); }), "Transport active.");
  EXPECT_EQ(MessageOf([&] { bt.SetAddress(""); }), "Transport active.");
  EXPECT_EQ(MessageOf([&] { bt.SetAddress("(00:11:22:33:44:55)"); }), "Transport active.");
  EXPECT_EQ(bt.GetAddress(), "(00:00:00:00:00:00)");
}

TEST(BluetoothSetters, WritingTheStoredValueIsAllowedWhileActive) {
  TestBluetooth bt;
  bt.SetActive(true);
  bt.SetAddress("(00:00:00:00:00:00)");
  bt.SetPort(0xFFFFFFFF);
  bt.SetService("OBEXObjectPushServiceClass");
  bt.SetServiceComment("Quorlink OBEX Object Push Service");
  bt.SetServiceName("OBEX Object Push Service");
}

TEST(BluetoothSetters, EveryOtherValueWhileActiveRaisesAndKeepsTheOld) {
  TestBluetooth bt;
  bt.SetActive(true);
  EXPECT_EQ(MessageOf([&] { bt.SetPort(0); }), "Transport active.");
  EXPECT_EQ(MessageOf([&] { bt.SetService("SerialPortServiceClass"); }), "Transport active.");
  EXPECT_EQ(MessageOf([&] { bt.SetService("no such class"); }), "Transport active.");
  EXPECT_EQ(MessageOf([&] { bt.SetServiceComment(""); }), "Transport active.");
  EXPECT_EQ(MessageOf([&] { bt.SetServiceName("x"); }), "Transport active.");
  EXPECT_EQ(bt.GetPort(), 0xFFFFFFFFu);
  EXPECT_EQ(bt.GetService(), "OBEXObjectPushServiceClass");
  EXPECT_EQ(bt.GetServiceComment(), "Quorlink OBEX Object Push Service");
  EXPECT_EQ(bt.GetServiceName(), "OBEX Object Push Service");
}

TEST(BluetoothSetters, InactiveStoresAnyValueUnchecked) {
  TestBluetooth bt;
  bt.SetPort(0);
  EXPECT_EQ(bt.GetPort(), 0u);
  bt.SetServiceComment("");
  bt.SetServiceName("");
  EXPECT_EQ(bt.GetServiceComment(), "");
  EXPECT_EQ(bt.GetServiceName(), "");
}

TEST(BluetoothService, NamesMapToTheirClasses) {
  TestBluetooth bt;
  bt.SetService("SerialPortServiceClass");
  EXPECT_EQ(bt.GetServiceGUID(),
            (GUID{0x00001101, 0, 0x1000, {0x80, 0, 0, 0x80, 0x5F, 0x9B, 0x34, 0xFB}}));
  EXPECT_EQ(bt.GetService(), "SerialPortServiceClass");
  bt.SetService("BasicPringingServiceClass");
  EXPECT_EQ(bt.GetServiceGUID(), BasicPringingServiceClass_UUID);
}

TEST(BluetoothService, UnknownNamesClearTheClassSilently) {
  for (const char* name :
       {"serialportserviceclass", "Serial", "{00001101-0000-1000-8000-00805F9B34FB}",
        "BasicPrintingServiceClass", " SerialPortServiceClass"}) {
    TestBluetooth bt;
    bt.SetService(name);
    EXPECT_EQ(bt.GetServiceGUID(), GUID{}) << name;
    EXPECT_EQ(bt.GetService(), "") << name;
    bt.SetActive(true);
    bt.SetService("");  // already reads empty: nothing to check
  }
}

TEST(BluetoothService, EveryRowRoundTripsThroughTheProperty) {
  TestBluetooth bt;
  for (const auto& row : QuorServiceGUIDsName) {
    bt.SetService(row.Name);
    EXPECT_EQ(bt.GetServiceGUID(), row.GUID);
    EXPECT_EQ(bt.GetService(), row.Name);
  }
}

TEST(BluetoothMakeAddr, DefaultsOverwriteWhateverTheRecordHeld) {
  testing::AddressWinsock winsock;
  platform::ScopedWinsock scoped(winsock);
  TestBluetooth bt;
  SOCKADDR_BTH addr;
  std::memset(&addr, 0x5A, sizeof addr);
  bt.MakeAddr(addr, false);
  EXPECT_EQ(addr.addressFamily, 32);
  EXPECT_EQ(+addr.btAddr, 0u);
  EXPECT_EQ(GUID{addr.serviceClassId}, GUID{});
  EXPECT_EQ(+addr.port, 0xFFFFFFFFu);
  EXPECT_EQ(winsock.others, 0);
  EXPECT_EQ(winsock.lastSocket, 0u) << "the socket is not touched";
}

TEST(BluetoothMakeAddr, LocalAsksTheSocketForItsAddress) {
  testing::AddressWinsock winsock;
  platform::ScopedWinsock scoped(winsock);
  winsock.local.addressFamily = AF_BTH;
  winsock.local.btAddr = 0x0000AABBCCDDEEFFULL;
  winsock.local.port = 7;
  TestBluetooth bt;
  bt.SetSocket(42);
  SOCKADDR_BTH addr;
  bt.MakeAddr(addr, true);
  EXPECT_EQ(winsock.lastSocket, 42u);
  EXPECT_EQ(winsock.lastLength, 30);
  EXPECT_EQ(+addr.btAddr, 0x0000AABBCCDDEEFFULL);
  EXPECT_EQ(+addr.port, 7u);
}

TEST(BluetoothMakeAddr, GetsocknameFailureIsTheOSError) {
  testing::AddressWinsock winsock;
  platform::ScopedWinsock scoped(winsock);
  winsock.getsocknameError = WSAENOTSOCK;
  TestBluetooth bt;
  SOCKADDR_BTH addr;
  try {
    bt.MakeAddr(addr, true);
    FAIL() << "nothing raised";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(WSAENOTSOCK));
    // The system's own text (Wine's differs from Windows' and may be empty).
    EXPECT_NE(e.Message().find(SysErrorMessage(WSAENOTSOCK)), std::string::npos) << e.Message();
  }
}

TEST(BluetoothMakeAddressFromString, ConvertsThroughThePlatform) {
  if (testing::UnderWine())
    GTEST_SKIP() << "Wine's WSAStringToAddressA refuses Bluetooth address text (10022)";
  testing::AddressWinsock winsock;
  platform::ScopedWinsock scoped(winsock);
  TestBluetooth bt;
  bt.SetActive(true);  // no state check
  EXPECT_EQ(bt.MakeAddressFromString("(00:11:22:33:44:55)"), 0x001122334455LL);
  EXPECT_EQ(winsock.lastText, "(00:11:22:33:44:55)");
  EXPECT_EQ(winsock.lastFamily, 32);
  EXPECT_EQ(winsock.lastProtocolInfo, nullptr);
  EXPECT_EQ(winsock.lastLength, 30);
  EXPECT_EQ(bt.MakeAddressFromString("(0a:0B:cC:Dd:ee:FF)"), 0x0A0BCCDDEEFFLL);
  EXPECT_EQ(bt.MakeAddressFromString("(FF:FF:FF:FF:FF:FF):12"), 0xFFFFFFFFFFFFLL)
      << "the channel is dropped";
  EXPECT_EQ(winsock.others, 0);
}

TEST(BluetoothMakeAddressFromString, MalformedTextIsTheOSError) {
  testing::AddressWinsock winsock;
  platform::ScopedWinsock scoped(winsock);
  TestBluetooth bt;
  for (const char* text : {"", "(00:11:22:33:44:5G)", "garbage"}) {
    try {
      bt.MakeAddressFromString(text);
      ADD_FAILURE() << "nothing raised for " << text;
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(WSAEINVAL)) << text;
      EXPECT_EQ(winsock.lastText, text) << "an empty text passes an empty string";
    }
  }
}

}  // namespace
}  // namespace quorlink
