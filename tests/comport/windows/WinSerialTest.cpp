// The Windows serial backend over a test cable: what Win32 itself does not
// promise (under Wine it does not hold) and the backend must.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "comport/ComPortTestSupport.h"
#include "platform/Kernel.h"
#include "quorlink/platform/Serial.h"

namespace quorlink::testing {
namespace {

using namespace comport;
using platform::Kernel;
using platform::Serial;

struct Open {
  SerialCable cable;
  ScopedComBinding binding{62, cable.PortPath()};
  HANDLE port = Serial().CreateFileA("COM62", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  OVERLAPPED ov{};
  Open() {
    ov.hEvent = Kernel().CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Serial().PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    Serial().SetCommMask(port, EV_RXCHAR);
  }
  ~Open() {
    if (port != INVALID_HANDLE_VALUE) Kernel().CloseHandle(port);
    Kernel().CloseHandle(ov.hEvent);
  }
};

TEST(SerialMapping, TermiosMapping) {
  GTEST_SKIP() << "line settings as termios belong to the POSIX backend";
}

// Wine corrupted writes issued back to back with one record while each
// returned TRUE; the caller's buffer is reused at once, as the contract allows.
TEST(WinSerial, BackToBackWritesSharingOneRecordArriveWholeAndInOrder) {
  Open p;
  ASSERT_NE(p.port, INVALID_HANDLE_VALUE);
  std::string expected;
  char message[64];
  for (int i = 0; i < 50; ++i) {
    const int n = std::snprintf(message, sizeof message, "message %02d|", i);
    expected.append(message, static_cast<std::size_t>(n));
    DWORD written = 0;
    if (!Serial().WriteFile(p.port, message, static_cast<DWORD>(n), &written, &p.ov)) {
      ASSERT_EQ(Kernel().GetLastError(), ERROR_IO_PENDING) << i;
    }
    std::memset(message, '#', sizeof message);
  }
  const auto got = p.cable.Read(expected.size());
  EXPECT_EQ(std::string(got.begin(), got.end()), expected);
  EXPECT_EQ(Kernel().WaitForSingleObject(p.ov.hEvent, 5000), WAIT_OBJECT_0);
}

// A wait that ends after the call returned reports through the event only:
// the caller's mask and record stay as they were (their owner may reuse them).
TEST(WinSerial, AWaitEndingLaterWritesNothingOfTheCallers) {
  Open p;
  DWORD mask = 0xABCD;
  OVERLAPPED before = p.ov;
  ASSERT_FALSE(Serial().WaitCommEvent(p.port, &mask, &p.ov));
  ASSERT_EQ(Kernel().GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(p.cable.Write(std::string("z")));
  ASSERT_EQ(Kernel().WaitForSingleObject(p.ov.hEvent, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(mask, 0xABCDu);
  EXPECT_EQ(std::memcmp(&before, &p.ov, sizeof before), 0);
}

// A reopen that takes over a port still sending starts its reader's wait
// while the closed session's may still be armed: the new wait is the one the
// next byte wakes, and the earlier one ends (its owner may still wait on it).
TEST(WinSerial, ANewWaitReplacesOneStillArmedAndTheNextByteWakesIt) {
  Open p;
  HANDLE second = Kernel().CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD firstMask = 0, secondMask = 0;
  ASSERT_FALSE(Serial().WaitCommEvent(p.port, &firstMask, &p.ov));
  ASSERT_EQ(Kernel().GetLastError(), ERROR_IO_PENDING);
  OVERLAPPED ov{};
  ov.hEvent = second;
  ASSERT_FALSE(Serial().WaitCommEvent(p.port, &secondMask, &ov));
  ASSERT_EQ(Kernel().GetLastError(), ERROR_IO_PENDING);
  EXPECT_EQ(Kernel().WaitForSingleObject(p.ov.hEvent, 5000), WAIT_OBJECT_0);
  ASSERT_TRUE(p.cable.Write(std::string("z")));
  EXPECT_EQ(Kernel().WaitForSingleObject(second, 5000), WAIT_OBJECT_0);
  Kernel().CloseHandle(p.port);
  p.port = INVALID_HANDLE_VALUE;
  Kernel().CloseHandle(second);
}

// Under Wine an overlapped read of bytes already queued is left pending; the
// backend's read returns them, all of them, before it returns.
TEST(WinSerial, QueuedBytesAreReadInFullEveryTime) {
  Open p;
  for (int round = 0; round < 20; ++round) {
    const std::string sent = "round " + std::to_string(round) + " of nineteen bytes";
    ASSERT_TRUE(p.cable.Write(sent));
    COMSTAT stat{};
    DWORD errors = 0;
    ASSERT_TRUE(PumpUntil([&] {
      return Serial().ClearCommError(p.port, &errors, &stat) && stat.cbInQue >= sent.size();
    }));
    std::string got(stat.cbInQue, '\0');
    DWORD read = 0;
    ASSERT_TRUE(Serial().ReadFile(p.port, got.data(), stat.cbInQue, &read, &p.ov)) << round;
    got.resize(read);
    EXPECT_EQ(got, sent);
  }
}

}  // namespace
}  // namespace quorlink::testing
