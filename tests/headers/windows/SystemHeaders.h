// The Windows SDK headers a Windows program includes beside the library's.
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ws2bth.h>
// clang-format on
