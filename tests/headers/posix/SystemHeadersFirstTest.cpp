// The C library's headers and glib's macros first, the library's after.
#include "headers/posix/SystemHeaders.h"
//
#include "headers/PublicHeaders.h"

using namespace quorlink;

#define QUORLINK_TEST_HELPERS
#define QUORLINK_TEST_NO_RECORD_MACROS  // ambiguous with the SDK records in scope
#include "headers/posix/SystemValues.h"

TEST(PublicHeaders, BuildAfterTheSystemHeaders) {
  CheckSystemCalls();
  CheckLibraryHelpers();
}
