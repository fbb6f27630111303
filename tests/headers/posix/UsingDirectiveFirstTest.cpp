// A program that says `using namespace quorlink` before it includes the C
// library's headers: the transport headers declare nothing that changes or
// hides a system name. (The helper module declares the SDK's own fd_set,
// timeval and in6_addr, so it is left out here.)
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/core/Application.h"
#include "quorlink/core/FormStream.h"
#include "quorlink/core/Threads.h"

using namespace quorlink;

#include "headers/posix/SystemHeaders.h"
//
#include "headers/posix/SystemValues.h"

TEST(PublicHeaders, BuildWithTheDirectiveBeforeTheSystemHeaders) {
  CheckSystemCalls();
  CheckSystemRecordMacros();
}
