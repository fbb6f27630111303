#include "quorlink/core/QuorStrings.h"

namespace quorlink {

// String-table numbers, in the order of the table.
const TResStringRec _Str_InvalidArgument{65520};
const TResStringRec _Str_FutureNotSupported{65521};
const TResStringRec _Str_TransportActive{65522};
const TResStringRec _Str_TransportNotActive{65523};
const TResStringRec _Str_CanNotOpenConnection{65524};
const TResStringRec _Str_CanNotReadFromConnection{65525};
const TResStringRec _Str_CanNotWriteToConnection{65526};
const TResStringRec _Str_TransportInClientMode{65527};
const TResStringRec _Str_TransportInServerMode{65528};
const TResStringRec _Str_WsaSysNotReady{65529};
const TResStringRec _Str_WsaVerNotSupported{65530};
const TResStringRec _Str_WsaEInProgress{65531};
const TResStringRec _Str_WsaEProcLim{65532};
const TResStringRec _Str_WsaEFault{65533};
const TResStringRec _Str_UnrecognizedError{65534};

namespace {
struct Texts {
  Texts() {
    RegisterResString(65520, "Invalid argument.");
    RegisterResString(65521, "Future not supported.");
    RegisterResString(65522, "Transport active.");
    RegisterResString(65523, "Transport not active.");
    RegisterResString(65524, "Can not open connection.");
    RegisterResString(65525, "Can not read data from connection.");
    RegisterResString(65526, "Can not write data to connection.");
    RegisterResString(65527, "Transport in client mode.");
    RegisterResString(65528, "Transport in server mode.");
    RegisterResString(65529,
                      "Underlying network subsystem is not ready for network communication.");
    RegisterResString(65530,
                      "The version of Windows Sockets support requested is not provided by this "
                      "particular Windows Sockets implementation.");
    RegisterResString(65531, "A blocking Windows Sockets 1.1 operation is in progress.");
    RegisterResString(65532,
                      "Limit on the number of tasks supported by the Windows Sockets "
                      "implementation has been reached.");
    RegisterResString(65533, "The lpWSAData is not a valid pointer.");
    RegisterResString(65534, "Unrecognized error.");
  }
};
const Texts texts;
}  // namespace

}  // namespace quorlink
