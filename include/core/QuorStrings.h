/// @file
/// The messages the library raises itself, by identifier.
#pragma once

#include "core/Export.h"
#include "core/SysUtils.h"

namespace quorlink {

extern QUORLINK_API const TResStringRec _Str_InvalidArgument;
extern QUORLINK_API const TResStringRec _Str_FutureNotSupported;
extern QUORLINK_API const TResStringRec _Str_TransportActive;
extern QUORLINK_API const TResStringRec _Str_TransportNotActive;
extern QUORLINK_API const TResStringRec _Str_CanNotOpenConnection;
extern QUORLINK_API const TResStringRec _Str_CanNotReadFromConnection;
extern QUORLINK_API const TResStringRec _Str_CanNotWriteToConnection;
extern QUORLINK_API const TResStringRec _Str_TransportInClientMode;
extern QUORLINK_API const TResStringRec _Str_TransportInServerMode;
extern QUORLINK_API const TResStringRec _Str_WsaSysNotReady;
extern QUORLINK_API const TResStringRec _Str_WsaVerNotSupported;
extern QUORLINK_API const TResStringRec _Str_WsaEInProgress;
extern QUORLINK_API const TResStringRec _Str_WsaEProcLim;
extern QUORLINK_API const TResStringRec _Str_WsaEFault;
extern QUORLINK_API const TResStringRec _Str_UnrecognizedError;

}  // namespace quorlink
