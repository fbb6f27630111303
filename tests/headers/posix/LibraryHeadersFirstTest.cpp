// The library's headers first, the C library's and glib's after.
#include "headers/PublicHeaders.h"
//
#include "headers/posix/SystemHeaders.h"

#define QUORLINK_TEST_HELPERS
#include "headers/posix/SystemValues.h"

namespace {

TEST(PublicHeaders, BuildBeforeTheSystemHeaders) {
  CheckSystemCalls();
  CheckSystemRecordMacros();
  CheckLibraryHelpers();
}

using namespace quorlink;

TEST(PublicHeaders, BuildBeforeTheSystemHeadersWithTheDirective) {
  static_assert(SOL_SOCKET == 1 && AF_INET6 == 10 && FD_SETSIZE == 1024 && TRUE == 1);
  EXPECT_EQ(GET_SAP(0x0000001122334455ull), 0x22334455u);
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  ::close(s);
}

}  // namespace
