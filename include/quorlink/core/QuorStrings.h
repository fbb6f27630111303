/// @file
/// The messages the library raises itself, by identifier.
#pragma once

#include "quorlink/core/Export.h"
#include "quorlink/core/SysUtils.h"

namespace quorlink {

/// @name Message identifiers
/// The texts of EQuorTransportException; a program compares them with
/// LoadResString(identifier).
///@{
extern QUORLINK_API const TResStringRec _Str_InvalidArgument;       ///< "Invalid argument."
extern QUORLINK_API const TResStringRec _Str_FutureNotSupported;    ///< "Future not supported."
extern QUORLINK_API const TResStringRec _Str_TransportActive;       ///< "Transport active."
extern QUORLINK_API const TResStringRec _Str_TransportNotActive;    ///< "Transport not active."
extern QUORLINK_API const TResStringRec _Str_CanNotOpenConnection;  ///< "Can not open connection."
extern QUORLINK_API const TResStringRec
    _Str_CanNotReadFromConnection;  ///< "Can not read data from connection."
extern QUORLINK_API const TResStringRec
    _Str_CanNotWriteToConnection;  ///< "Can not write data to connection."
extern QUORLINK_API const TResStringRec
    _Str_TransportInClientMode;  ///< "Transport in client mode."
extern QUORLINK_API const TResStringRec
    _Str_TransportInServerMode;  ///< "Transport in server mode."
extern QUORLINK_API const TResStringRec
    _Str_WsaSysNotReady;  ///< the socket library is not ready (WSASYSNOTREADY)
extern QUORLINK_API const TResStringRec
    _Str_WsaVerNotSupported;  ///< the socket library lacks version 2.2 (WSAVERNOTSUPPORTED)
extern QUORLINK_API const TResStringRec
    _Str_WsaEInProgress;  ///< a blocking socket call is in progress (WSAEINPROGRESS)
extern QUORLINK_API const TResStringRec
    _Str_WsaEProcLim;  ///< too many tasks use the socket library (WSAEPROCLIM)
extern QUORLINK_API const TResStringRec
    _Str_WsaEFault;  ///< the start-up record is not valid (WSAEFAULT)
extern QUORLINK_API const TResStringRec
    _Str_UnrecognizedError;  ///< "Unrecognized error.": any other start-up failure
///@}

}  // namespace quorlink
