// Where the system has no h_errno macro of its own, the library's is the
// last Winsock error.
#include <gtest/gtest.h>

#include "platform/Kernel.h"
#include "quorlink/bluetooth/QuorBluetoothAPI.h"

namespace quorlink {
namespace {

TEST(BluetoothApiErrors, HErrnoIsTheLastWinsockError) {
  platform::Kernel().SetLastError(WSAECONNREFUSED);
  EXPECT_EQ(h_errno(), WSAECONNREFUSED);
}

}  // namespace
}  // namespace quorlink
