// The messages the library raises itself, by identifier.
#pragma once

#include "core/SysUtils.h"

namespace quorlink {

extern const TResStringRec _Str_InvalidArgument;
extern const TResStringRec _Str_FutureNotSupported;
extern const TResStringRec _Str_TransportActive;
extern const TResStringRec _Str_TransportNotActive;
extern const TResStringRec _Str_CanNotOpenConnection;
extern const TResStringRec _Str_CanNotReadFromConnection;
extern const TResStringRec _Str_CanNotWriteToConnection;
extern const TResStringRec _Str_TransportInClientMode;
extern const TResStringRec _Str_TransportInServerMode;
extern const TResStringRec _Str_WsaSysNotReady;
extern const TResStringRec _Str_WsaVerNotSupported;
extern const TResStringRec _Str_WsaEInProgress;
extern const TResStringRec _Str_WsaEProcLim;
extern const TResStringRec _Str_WsaEFault;
extern const TResStringRec _Str_UnrecognizedError;

}  // namespace quorlink
