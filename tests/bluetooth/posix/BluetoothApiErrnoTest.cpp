// The POSIX side's own error texts (Windows gives its system's, which Wine
// lacks for Winsock codes), and its h_errno: the last Winsock error.
#include <gtest/gtest.h>

#include <string>

#include "platform/Kernel.h"
#include "quorlink/bluetooth/QuorBluetoothAPI.h"

namespace quorlink {
namespace {

TEST(BluetoothApiErrors, TextsOfWinsockAndSystemCodes) {
  const char* text = gai_strerrorA(10060);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text).rfind("A connection attempt failed because", 0), 0u) << text;
  EXPECT_EQ(std::string(text).find('\n'), std::string::npos);
  EXPECT_EQ(gai_strerror(10022), gai_strerrorA(10022));
  EXPECT_EQ(std::string(gai_strerror(10022)).rfind("An invalid argument was supplied.", 0), 0u);
  ASSERT_NE(gai_strerrorA(5), nullptr);
  EXPECT_EQ(std::string(gai_strerrorA(5)).rfind("Access is denied.", 0), 0u);

  const WCHAR* wide = gai_strerrorW(11001);
  ASSERT_NE(wide, nullptr);
  const std::u16string expected = u"No such host is known.";
  EXPECT_EQ(std::u16string(wide).substr(0, expected.size()), expected);
}

TEST(BluetoothApiErrors, HErrnoIsTheLastWinsockError) {
  platform::Kernel().SetLastError(WSAECONNREFUSED);
  EXPECT_EQ(h_errno(), WSAECONNREFUSED);
}

}  // namespace
}  // namespace quorlink
