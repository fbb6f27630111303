// The provider choice and the virtual radio as a program sees them through
// the public header, on every OS.
#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothProvider.h"
#include "quorlink/core/Classes.h"
#include "platform/virtual/VirtualRadio.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {
namespace {

class PublicBluetoothProvider : public ::testing::Test {
 protected:
  ~PublicBluetoothProvider() override {
    UseVirtualRadio(false);
    platform::vradio::SetRendezvousDirectory("");
    VirtualRadios::RemoveDirectory(directory);
  }
  std::string directory = VirtualRadios::MakePrivateDirectory();
};

TEST_F(PublicBluetoothProvider, VirtualRadiosAskedForCarryATransportsLink) {
  UseVirtualRadio(true, directory);
  std::string reason;
  EXPECT_EQ(BluetoothProvider(&reason), TQuorBluetoothProvider::VirtualRadio);
  EXPECT_EQ(reason, "the virtual radio was asked for");
  EXPECT_EQ(platform::vradio::RendezvousDirectory(), directory);

  TQuorVirtualRadio serverRadio(0x00000000E001, "server");
  TQuorVirtualRadio clientRadio(0x00000000E002, "client");
  EXPECT_EQ(serverRadio.Address(), 0x00000000E001u);
  EXPECT_EQ(serverRadio.AddressText(), "(00:00:00:00:E0:01)");
  EXPECT_THROW(TQuorVirtualRadio(0x00000000E001, "twice"), std::system_error);

  // The server listens on the oldest radio; the client connects from its own.
  TQuorBluetooth server(nullptr);
  TQuorBluetooth client(nullptr);
  std::string received;
  server.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& bytes) {
    received.append(bytes.begin(), bytes.end());
  };
  client.OnConnect = [](TQuorCustomConnection* c) {
    const std::string line = "over the radio";
    c->Write(TQuorByteArray(line.begin(), line.end()));
  };
  server.Listen();
  client.SetAddress(serverRadio.AddressText());
  {
    platform::vradio::ScopedDefaultRadio from(clientRadio.Address());
    client.Connect();
  }
  ASSERT_TRUE(PumpUntil([&] { return received == "over the radio"; })) << received;
  auto* link = client.GetConnections(0);
  EXPECT_EQ(link->GetRemoteAddress().substr(0, 19), serverRadio.AddressText());
  EXPECT_EQ(link->GetRemoteName(), "server");
  client.Close();
  server.Close();
}

TEST_F(PublicBluetoothProvider, TurnedOffTheSystemsOwnIsChosenOrNoneWithTheReason) {
  UseVirtualRadio(true, directory);
  UseVirtualRadio(false);
  std::string reason;
  const TQuorBluetoothProvider provider = BluetoothProvider(&reason);
  EXPECT_NE(provider, TQuorBluetoothProvider::VirtualRadio);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(reason.find("virtual"), std::string::npos) << reason;
  // No radio of the virtual kind can be reached any more.
  EXPECT_FALSE(platform::vradio::Enabled());
}

}  // namespace
}  // namespace quorlink::testing
