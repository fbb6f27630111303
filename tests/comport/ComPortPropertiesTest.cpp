// TQuorComPort's settings, names and published properties.
#include <gtest/gtest.h>

#include <algorithm>

#include "quorlink/comport/QuorComPort.h"
#include "quorlink/core/FormStream.h"

namespace quorlink {
namespace {

TEST(ComPortProperties, InitialValuesAndConstants) {
  TQuorComPort port(nullptr);
  EXPECT_EQ(port.GetBaudRate(), br115200);
  EXPECT_EQ(port.GetByteSize(), 8);
  EXPECT_EQ(port.GetParity(), paNone);
  EXPECT_EQ(port.GetPort(), 1);
  EXPECT_EQ(port.GetStopBits(), sb1);
  EXPECT_EQ(port.GetDescription(), "COM Port Transport");
  EXPECT_EQ(port.GetCategory(), tcCOMPort);
  EXPECT_EQ(port.GetFlags(), TQuorTransportFlags{tfClient});
  EXPECT_FALSE(port.IsActive());
}

TEST(ComPortProperties, PortNamesHaveNoPrefixOrPadding) {
  TQuorComPort port(nullptr);
  EXPECT_EQ(port.GetPortName(), "COM1");
  port.SetPort(10);
  EXPECT_EQ(port.GetPortName(), "COM10");
  port.SetPort(0);
  EXPECT_EQ(port.GetPortName(), "COM0");
  port.SetPort(255);
  EXPECT_EQ(port.GetPortName(), "COM255");
}

TEST(ComPortProperties, RatesAreTheCbrValues) {
  const DWORD expected[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                            19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (int r = br110; r <= br256000; ++r)
    EXPECT_EQ(BaudRateValue(static_cast<TQuorBaudRate>(r)), expected[r]);
  EXPECT_EQ(BaudRateValue(static_cast<TQuorBaudRate>(15)), 0u);
  EXPECT_EQ(static_cast<int>(paSpace), SPACEPARITY);
  EXPECT_EQ(static_cast<int>(sb15), ONE5STOPBITS);
  EXPECT_EQ(static_cast<int>(sb2), TWOSTOPBITS);
}

TEST(ComPortProperties, PublishedInOrderAndStoredButByteSizeIsNot) {
  TQuorComPort port(nullptr);
  auto props = port.Properties();
  std::vector<std::string> names;
  for (const auto& p : props) names.push_back(p.Name);
  const std::vector<std::string> tail = {"BaudRate", "Parity", "Port", "StopBits"};
  ASSERT_GE(names.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(names.end() - 4, names.end()), tail);
  EXPECT_EQ(std::count(names.begin(), names.end(), "ByteSize"), 0);
  for (auto it = props.end() - 4; it != props.end(); ++it) EXPECT_TRUE(it->Stored) << it->Name;

  // Through the descriptors, as form streaming sets them.
  auto find = [&](const std::string& n) {
    return *std::find_if(props.begin(), props.end(), [&](auto& p) { return p.Name == n; });
  };
  find("BaudRate").SetOrd(port, br9600);
  find("Parity").SetOrd(port, paMark);
  find("Port").SetOrd(port, 12);
  find("StopBits").SetOrd(port, sb2);
  EXPECT_EQ(port.GetBaudRate(), br9600);
  EXPECT_EQ(port.GetParity(), paMark);
  EXPECT_EQ(port.GetPortName(), "COM12");
  EXPECT_EQ(find("StopBits").GetOrd(port), sb2);
  EXPECT_EQ(find("BaudRate").Type->EnumNames.at(14), "br256000");
  EXPECT_EQ(find("Parity").Type->EnumNames.at(4), "paSpace");
  EXPECT_EQ(find("StopBits").Type->EnumNames.at(1), "sb15");
}

TEST(ComPortProperties, SettersCheckNoRange) {
  TQuorComPort port(nullptr);
  port.SetByteSize(42);
  EXPECT_EQ(port.GetByteSize(), 42);
}

// A rate outside the enumeration is stored only when it is set.
TEST(ComPortCustomRate, AFormStoresItOnlyWhenSet) {
  TQuorComPort port(nullptr);
  port.SetBaudRate(br9600);
  const std::string plain = WriteForm(port);
  EXPECT_EQ(plain.find("CustomBaudRate"), std::string::npos) << plain;
  EXPECT_NE(plain.find("BaudRate = br9600"), std::string::npos) << plain;

  port.SetCustomBaudRate(921600);
  const std::string custom = WriteForm(port);
  EXPECT_NE(custom.find("  CustomBaudRate = 921600\n"), std::string::npos) << custom;
  EXPECT_NE(custom.find("BaudRate = br9600"), std::string::npos) << custom;

  TQuorComPort back(nullptr);
  ReadForm(back, custom);
  EXPECT_EQ(back.GetCustomBaudRate(), 921600u);
  EXPECT_EQ(back.GetBaudRate(), br9600);
  ReadForm(back, plain);
  EXPECT_EQ(back.GetCustomBaudRate(), 921600u);  // values a form leaves out are kept
  EXPECT_THROW(ReadForm(back, "object TQuorComPort\n  CustomBaudRate = -1\nend\n"), Exception);
  EXPECT_THROW(ReadForm(back, "object TQuorComPort\n  CustomBaudRate = 4294967296\nend\n"),
               Exception);
}

}  // namespace
}  // namespace quorlink
