// Windows build: the platform vocabulary is the SDK's own. Its types are
// brought into quorlink with `using`; its constants are the SDK's macros and
// enumerators, which every unqualified use inside the library finds.
// WIN32_LEAN_AND_MEAN and NOMINMAX are public definitions of the Windows
// target, so a program sees the same <windows.h> as the library.
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <cstdint>

namespace quorlink {

using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::GUID;
using ::HANDLE;
using ::HWND;
using ::LPARAM;
using ::LRESULT;
using ::OVERLAPPED;
using ::UINT;
using ::ULONG;
using ::ULONGLONG;
using ::WCHAR;
using ::WORD;
using ::WPARAM;

// What a program waits on to learn that the message loop has work: an event
// handle, set whenever the library posts a message or wakes the loop. Wait on
// it with MsgWaitForMultipleObjects(..., QS_ALLINPUT), which also wakes for
// the messages Windows itself posts to the library's windows (WSAAsyncSelect).
using TPollHandle = HANDLE;
inline const TPollHandle kNoPollHandle = nullptr;

}  // namespace quorlink
