// Bytes that Write accepted reach the peer although Close follows at once;
// the background sender ends when they are sent, when the peer fails, or
// after a stall, and releases the socket and its Winsock start-up.
#include <gtest/gtest.h>

#include "bluetooth/BluetoothTransportFixture.h"
#include "bluetooth/QuorBluetoothDrain.h"

namespace quorlink::testing {
namespace {

using BluetoothDrainThreaded = BluetoothFixture;

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 4093) % 251);
  return s;
}

TEST_F(BluetoothDrainThreaded, WriteThenCloseDeliversEveryByteFromClientAndServer) {
  const std::string sent = Pattern(4 * 1024 * 1024);
  for (const bool fromClient : {true, false}) {
    SCOPED_TRACE(fromClient ? "client writes" : "server writes");
    serverLog.received.clear();
    clientLog.received.clear();
    Link();
    auto& reader = fromClient ? serverLog : clientLog;
    auto* readerLink = fromClient ? static_cast<TQuorCustomConnection*>(&ServerLink())
                                  : static_cast<TQuorCustomConnection*>(&ClientLink());
    if (fromClient) {
      ClientLink().Write(Bytes(sent));
      client->Close();
    } else {
      ServerLink().Write(Bytes(sent));
      server->Close();
    }
    // The reading side gets everything, then its link ends.
    ASSERT_TRUE(PumpUntil([&] { return reader.received[readerLink].size() >= sent.size(); },
                          std::chrono::seconds(60)))
        << reader.received[readerLink].size();
    EXPECT_TRUE(reader.received[readerLink] == sent);
    ASSERT_TRUE(WaitForBluetoothDrains(std::chrono::seconds(60)));
    EXPECT_TRUE(PumpUntil(
        [&] { return fromClient ? server->ConnectionCount() == 0 : !client->IsActive(); }));
    server->Close();
    client->Close();
    EXPECT_TRUE(winsock.OpenSockets().empty());
    EXPECT_EQ(winsock.Startups(), 0);
  }
}

// The drain gives up on a peer that is gone and on one that stops reading.
TEST_F(BluetoothDrainThreaded, DrainEndsWhenThePeerFailsOrStalls) {
  // Put back for later tests, whatever happens here.
  struct StallLimit {
    std::chrono::milliseconds previous =
        bluetooth_detail::SetDrainStallLimit(std::chrono::milliseconds(300));
    ~StallLimit() { bluetooth_detail::SetDrainStallLimit(previous); }
  } stallLimit;
  const std::string sent = Pattern(8 * 1024 * 1024);
  for (const bool peerCloses : {true, false}) {
    SCOPED_TRACE(peerCloses ? "the peer closes" : "the peer stops reading");
    Link();
    ServerLink().Write(Bytes(sent));
    ASSERT_GT(ServerLink().PendingWrite(), 0u);
    server->Close();
    EXPECT_EQ(bluetooth_detail::RunningDrains(), 1u) << "the unsent tail is being sent";
    if (peerCloses) client->Close();
    ASSERT_TRUE(WaitForBluetoothDrains(std::chrono::seconds(60)));
    client->Close();
    EXPECT_TRUE(winsock.OpenSockets().empty());
    EXPECT_EQ(winsock.Startups(), 0);
  }
}

}  // namespace
}  // namespace quorlink::testing
