// The library's headers first, <winsock2.h>, <windows.h> and <ws2bth.h> after.
#include "headers/PublicHeaders.h"
//
#include "headers/windows/SystemHeaders.h"
#include "headers/windows/SystemValues.h"

TEST(PublicHeaders, BuildBeforeWindowsHeaders) {
  CheckMacroNamedCalls();
}
