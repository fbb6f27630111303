#include <gtest/gtest.h>

#include "quorlink/core/QuorCustomTransport.h"
#include "quorlink/core/QuorStrings.h"

namespace quorlink {
namespace {

TEST(Strings, EveryMessageByteForByte) {
  const std::pair<const TResStringRec*, const char*> table[] = {
      {&_Str_InvalidArgument, "Invalid argument."},
      {&_Str_FutureNotSupported, "Future not supported."},
      {&_Str_TransportActive, "Transport active."},
      {&_Str_TransportNotActive, "Transport not active."},
      {&_Str_CanNotOpenConnection, "Can not open connection."},
      {&_Str_CanNotReadFromConnection, "Can not read data from connection."},
      {&_Str_CanNotWriteToConnection, "Can not write data to connection."},
      {&_Str_TransportInClientMode, "Transport in client mode."},
      {&_Str_TransportInServerMode, "Transport in server mode."},
      {&_Str_WsaSysNotReady,
       "Underlying network subsystem is not ready for network communication."},
      {&_Str_WsaVerNotSupported,
       "The version of Windows Sockets support requested is not provided by this particular "
       "Windows Sockets implementation."},
      {&_Str_WsaEInProgress, "A blocking Windows Sockets 1.1 operation is in progress."},
      {&_Str_WsaEProcLim,
       "Limit on the number of tasks supported by the Windows Sockets implementation has been "
       "reached."},
      {&_Str_WsaEFault, "The lpWSAData is not a valid pointer."},
      {&_Str_UnrecognizedError, "Unrecognized error."},
  };
  for (const auto& [rec, text] : table) {
    EQuorTransportException e(*rec);
    EXPECT_EQ(e.Message(), text);
  }
}

}  // namespace
}  // namespace quorlink
