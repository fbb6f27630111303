// The serial calls over a test cable: the overlapped effects the transport
// relies on, whichever backend gives them.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "comport/SerialCable.h"
#include "platform/Kernel.h"
#include "quorlink/platform/Serial.h"
#include "support/ComBinding.h"
#include "support/SlowDevice.h"

namespace quorlink::testing {
namespace {

using platform::Kernel;
using platform::Serial;

struct OpenPort {
  SerialCable cable;
  ScopedComBinding binding{61, cable.PortPath()};
  HANDLE port = Serial().CreateFileA("COM61", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  OVERLAPPED ov{};
  OpenPort() {
    ov.hEvent = Kernel().CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Serial().SetCommMask(port, EV_RXCHAR);
  }
  ~OpenPort() {
    if (port != INVALID_HANDLE_VALUE) Kernel().CloseHandle(port);
    Kernel().CloseHandle(ov.hEvent);
  }
};

TEST(SerialBackend, WaitIsPendingUntilACharacterIsQueued) {
  OpenPort p;
  ASSERT_NE(p.port, INVALID_HANDLE_VALUE);
  DWORD mask = 0;
  ASSERT_FALSE(Serial().WaitCommEvent(p.port, &mask, &p.ov));
  ASSERT_EQ(Kernel().GetLastError(), ERROR_IO_PENDING);
  EXPECT_EQ(Kernel().WaitForSingleObject(p.ov.hEvent, 50), WAIT_TIMEOUT);
  ASSERT_TRUE(p.cable.Write(std::string("abc")));
  EXPECT_EQ(Kernel().WaitForSingleObject(p.ov.hEvent, 5000), WAIT_OBJECT_0);
  COMSTAT stat{};
  DWORD errors = 0;
  ASSERT_TRUE(Serial().ClearCommError(p.port, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 3u);
  char buf[8] = {};
  DWORD read = 0;
  ASSERT_TRUE(Serial().ReadFile(p.port, buf, stat.cbInQue, &read, &p.ov));
  EXPECT_EQ(std::string(buf, read), "abc");
  // Nothing queued now: a read would have to wait, which counts as failed.
  EXPECT_FALSE(Serial().ReadFile(p.port, buf, 1, &read, &p.ov));
  // With a character queued the wait ends at once.
  ASSERT_TRUE(p.cable.Write(std::string("d")));
  ASSERT_EQ(Kernel().WaitForSingleObject(p.ov.hEvent, 0), WAIT_OBJECT_0);
  for (int i = 0; i < 500; ++i) {
    if (Serial().WaitCommEvent(p.port, &mask, &p.ov)) break;
    ASSERT_EQ(Kernel().GetLastError(), ERROR_IO_PENDING);
    Kernel().WaitForSingleObject(p.ov.hEvent, 10);
  }
  EXPECT_EQ(mask, EV_RXCHAR);
}

TEST(SerialBackendThreaded, ClosingThePortEndsAPendingWaitOnAnotherThread) {
  OpenPort p;
  DWORD mask = 0;
  ASSERT_FALSE(Serial().WaitCommEvent(p.port, &mask, &p.ov));
  auto waited = std::async(std::launch::async,
                           [&] { return Kernel().WaitForSingleObject(p.ov.hEvent, INFINITE); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(Kernel().CloseHandle(p.port));
  const HANDLE closed = p.port;
  p.port = INVALID_HANDLE_VALUE;
  ASSERT_EQ(waited.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(waited.get(), WAIT_OBJECT_0);
  // The handle is gone for good; its value is never handed out again.
  EXPECT_FALSE(Serial().ClearCommError(closed, nullptr, nullptr));
  EXPECT_EQ(Kernel().GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(SerialBackend, ChangingTheMaskEndsAPendingWait) {
  OpenPort p;
  DWORD mask = 0;
  ASSERT_FALSE(Serial().WaitCommEvent(p.port, &mask, &p.ov));
  ASSERT_TRUE(Serial().SetCommMask(p.port, EV_RXCHAR));
  EXPECT_EQ(Kernel().WaitForSingleObject(p.ov.hEvent, 5000), WAIT_OBJECT_0);
}

TEST(SerialBackend, ASecondOpenFailsUntilTheFirstIsClosed) {
  OpenPort p;
  HANDLE second = Serial().CreateFileA("COM61", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Kernel().GetLastError(), ERROR_SHARING_VIOLATION);
  Kernel().CloseHandle(p.port);
  p.port = Serial().CreateFileA("COM61", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_NE(p.port, INVALID_HANDLE_VALUE);
}

TEST(SerialBackend, UnknownNamesFailToOpen) {
  for (const char* name : {"COM0", "COM250", "LPT1", "/dev/null"}) {
    EXPECT_EQ(Serial().CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr),
              INVALID_HANDLE_VALUE)
        << name;
  }
}

TEST(SerialBackend, AWriteTheDeviceCannotTakeAtOnceCompletesInTheBackground) {
  OpenPort p;
  OVERLAPPED wov{};
  wov.hEvent = Kernel().CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::uint8_t> data(1 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
  DWORD written = 0;
  {
    std::vector<std::uint8_t> copy = data;
    ASSERT_FALSE(
        Serial().WriteFile(p.port, copy.data(), static_cast<DWORD>(copy.size()), &written, &wov));
    ASSERT_EQ(Kernel().GetLastError(), ERROR_IO_PENDING);
  }  // the caller's bytes are gone; the port has its own copy
  DWORD errors = 0;
  COMSTAT stat{};
  ASSERT_TRUE(Serial().ClearCommError(p.port, &errors, &stat));
  EXPECT_GT(stat.cbOutQue, 0u);
  EXPECT_EQ(Kernel().WaitForSingleObject(wov.hEvent, 0), WAIT_TIMEOUT);
  EXPECT_EQ(p.cable.Read(data.size(), 20000), data);
  EXPECT_EQ(Kernel().WaitForSingleObject(wov.hEvent, 5000), WAIT_OBJECT_0);
  Kernel().CloseHandle(wov.hEvent);
}

// A write is done once the driver holds the bytes, not once they are out:
// an open's purge, as at Connect, must not drop what the last session left
// in the driver. The device reads slowly, so that each close leaves output
// in the driver, and the drain has let go before the next open.
TEST(SerialBackend, AnOpenKeepsWhatTheLastSessionLeftInTheDevice) {
  SerialCable cable;
  ScopedComBinding binding{61, cable.PortPath()};
  SlowDevice device(cable, 512, 2);
  OVERLAPPED wov{};
  wov.hEvent = Kernel().CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::uint8_t> expected;
  for (int round = 0; round < 12; ++round) {
    HANDLE port = Serial().CreateFileA("COM61", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << round;
    ASSERT_TRUE(Serial().PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR)) << round;
    std::vector<std::uint8_t> block(32 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i)
      block[i] = static_cast<std::uint8_t>(round * 7 + i % 241);
    DWORD written = 0;
    Kernel().ResetEvent(wov.hEvent);
    if (!Serial().WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &written, &wov)) {
      ASSERT_EQ(Kernel().GetLastError(), ERROR_IO_PENDING) << round;
    }
    ASSERT_EQ(Kernel().WaitForSingleObject(wov.hEvent, 20000), WAIT_OBJECT_0) << round;
    expected.insert(expected.end(), block.begin(), block.end());
    Kernel().CloseHandle(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (int i = 0; i < 3000 && device.Received() < expected.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto& got = device.Stop();
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  Kernel().CloseHandle(wov.hEvent);
}

TEST(SerialBackend, PurgeDropsQueuedInputAndOutput) {
  OpenPort p;
  ASSERT_TRUE(p.cable.Write(std::string("old")));
  DWORD errors = 0;
  COMSTAT stat{};
  for (int i = 0; i < 500 && stat.cbInQue < 3; ++i) {
    Serial().ClearCommError(p.port, &errors, &stat);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(stat.cbInQue, 3u);
  ASSERT_TRUE(Serial().PurgeComm(p.port, PURGE_RXCLEAR | PURGE_TXCLEAR));
  ASSERT_TRUE(Serial().ClearCommError(p.port, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 0u);
}

}  // namespace
}  // namespace quorlink::testing
