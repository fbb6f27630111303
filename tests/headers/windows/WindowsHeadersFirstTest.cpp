// <winsock2.h>, <windows.h> and <ws2bth.h> first, the library's headers after.
#include "headers/windows/SystemHeaders.h"
//
#include "headers/PublicHeaders.h"
#include "headers/windows/SystemValues.h"

TEST(PublicHeaders, BuildAfterWindowsHeaders) {
  CheckMacroNamedCalls();
}
