// The Windows SDK headers a Windows program includes beside the library's.
// The suite builds them lean; the header-mode programs build them whole
// (no WIN32_LEAN_AND_MEAN) and with UNICODE as well.
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ws2bth.h>
#include <ws2tcpip.h>
// clang-format on
