// What a program that uses the C library and, beside it, the library's public
// headers must still get: the system's values under the system's names, and
// the library's helpers under theirs. Each order's test includes it last,
// mostly with `using namespace quorlink` in force.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>

static_assert(SOL_SOCKET == 1, "the C library's SOL_SOCKET");
static_assert(AF_INET6 == 10, "the C library's AF_INET6");
static_assert(FD_SETSIZE == 1024, "the C library's FD_SETSIZE");
static_assert(SOCK_STREAM == 1);
static_assert(TRUE == 1 && FALSE == 0);
static_assert(sizeof(::fd_set) == FD_SETSIZE / 8, "the C library's bit-mask fd_set");
static_assert(sizeof(::timeval) == 16);
static_assert(quorlink::win32::SOCK_STREAM == 1);

// The C library's calls with the C library's constants.
inline void CheckSystemCalls() {
  const int s = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (s >= 0) {
    ::close(s);
  } else {
    EXPECT_EQ(errno, EAFNOSUPPORT) << "socket(AF_INET6) was given another family";
  }
  int one = 1;
  const int u = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(u, 0);
  EXPECT_EQ(::setsockopt(u, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one), 0);
  ::close(u);
  (void)h_errno;
}

// The C library's macros that name its records unqualified: they need no
// same-named record of the library in scope (see bluetooth/QuorBluetoothAPI.h).
#ifndef QUORLINK_TEST_NO_RECORD_MACROS
inline void CheckSystemRecordMacros() {
  fd_set bits;
  FD_ZERO(&bits);
  FD_SET(3, &bits);
  EXPECT_TRUE(FD_ISSET(3, &bits));
  timeval tv{1, 0};
  EXPECT_TRUE(timerisset(&tv));
  EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(&in6addr_loopback));
}
#endif

#ifdef QUORLINK_TEST_HELPERS
static_assert(sizeof(quorlink::fd_set) == 8 + 64 * sizeof(quorlink::SOCKET), "the SDK's fd_set");
static_assert(sizeof(quorlink::timeval) == 8);

// The library's helpers, named in parentheses where a macro shares the name.
inline void CheckLibraryHelpers() {
  quorlink::fd_set set{};
  (quorlink::FD_ZERO)(set);
  quorlink::_FD_SET(7, set);
  EXPECT_EQ(set.fd_count, 1u);
  quorlink::timeval qtv{0, 1};
  EXPECT_TRUE((quorlink::timerisset)(qtv));
  EXPECT_TRUE((quorlink::IN6_IS_ADDR_LOOPBACK)(quorlink::in6addr_loopback));
  EXPECT_EQ((quorlink::_IO)('f', 126), 0x2000667Eu);
  EXPECT_EQ(quorlink::GET_NAP(0x0000001122334455ull), 0x11u);
}
#endif
