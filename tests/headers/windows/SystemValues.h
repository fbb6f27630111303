// What a Windows program that includes <windows.h> and the library's public
// headers, in either order, must still get: the SDK's values under the SDK's
// names, and the library's names that the SDK makes macros (SetPort,
// PostMessage, RegisterClass, ...) still callable. Each order's test
// includes it last.
#pragma once

#include <gtest/gtest.h>

static_assert(SOCK_STREAM == 1 && SOL_SOCKET == 0xFFFF, "the SDK's socket constants");
static_assert(FD_SETSIZE == 64, "the SDK's FD_SETSIZE");
static_assert(AF_BTH == 32 && BTHPROTO_RFCOMM == 3);
static_assert(VK_RETURN == 0x0D && VK_ESCAPE == 0x1B);
static_assert(sizeof(::fd_set) == 8 + 64 * sizeof(SOCKET), "the SDK's fd_set");
static_assert(quorlink::win32::kSockStream == SOCK_STREAM);
static_assert(quorlink::win32::kSolSocket == SOL_SOCKET);
// The library speaks the SDK's own types.
static_assert(std::is_same_v<quorlink::DWORD, ::DWORD>);
static_assert(std::is_same_v<quorlink::SOCKADDR_BTH, ::SOCKADDR_BTH>);
static_assert(std::is_same_v<quorlink::WSAQUERYSETA, ::WSAQUERYSETA>);
static_assert(std::is_same_v<quorlink::DCB, ::DCB>);

class HeaderOrderGadget : public quorlink::TComponent {
 public:
  using TComponent::TComponent;
};

inline void CheckMacroNamedCalls() {
  // SetPort is the SDK's SetPortA here, on both sides of the call.
  quorlink::TQuorComPort port(nullptr);
  port.SetPort(3);
  EXPECT_EQ(port.GetPortName(), "COM3");
  quorlink::TQuorBluetooth bt(nullptr);
  bt.SetPort(5);
  EXPECT_EQ(bt.GetPort(), 5u);
  quorlink::RegisterClass<HeaderOrderGadget>("THeaderOrderGadget");
  EXPECT_TRUE(quorlink::FindClass("THeaderOrderGadget"));
  quorlink::UnregisterClass("THeaderOrderGadget");
  EXPECT_FALSE(quorlink::FindClass("THeaderOrderGadget"));
  quorlink::RegisterClass("THeaderOrderGadget", nullptr);
  quorlink::UnregisterClass("THeaderOrderGadget");
  // The SDK's spelling of gai_strerror (A or W by UNICODE), served by the library.
  EXPECT_NE(quorlink::gai_strerror(ERROR_ACCESS_DENIED), nullptr);

  // The library's PostMessage and the SDK's, each on its own window.
  int handled = 0;
  HWND mine = quorlink::AllocateHWnd([&](quorlink::TMessage& m) { handled += m.Msg == WM_USER; });
  ASSERT_NE(mine, nullptr);
  EXPECT_TRUE(quorlink::PostMessage(mine, WM_USER, 0, 0));
  EXPECT_TRUE(::PostMessage(mine, WM_USER, 0, 0));
  for (int i = 0; i < 100 && handled < 2; ++i) quorlink::Application().ProcessMessages();
  EXPECT_EQ(handled, 2);
  quorlink::DeallocateHWnd(mine);
}
