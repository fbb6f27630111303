// A program that says `using namespace quorlink` before it includes the C
// library's headers: the transport headers declare nothing that changes or
// hides a system name. (The helper module declares the SDK's own fd_set,
// timeval and in6_addr, so it is left out here.)
#include "bluetooth/QuorBluetooth.h"
#include "comport/QuorComPort.h"
#include "core/Application.h"
#include "core/FormStream.h"
#include "core/Threads.h"

using namespace quorlink;

#include "headers/posix/SystemHeaders.h"
//
#include "headers/posix/SystemValues.h"

TEST(PublicHeaders, BuildWithTheDirectiveBeforeTheSystemHeaders) {
  CheckSystemCalls();
  CheckSystemRecordMacros();
}
