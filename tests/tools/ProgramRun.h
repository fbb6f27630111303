// Runs the built quorlink program as a child process: its standard input
// (and, for a terminal, its standard output) from a stream the test gives,
// what it writes otherwise captured, its exit awaited with a deadline (a
// child still running then is killed and counts as hung). Each system starts
// and waits for it its own way (posix/ProgramRun.cpp, windows/ProgramRun.cpp).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quorlink::testing::tools {

// A descriptor on POSIX, a HANDLE on Windows; kNoStream for none.
using Stream = std::intptr_t;
inline constexpr Stream kNoStream = -1;

struct Exit {
  int code = -1;  // -1: did not end by itself before the deadline
  std::string out, err;
};

class Program {
 public:
  // in: the child's standard input (kNoStream: the null device); out its
  // standard output (kNoStream: captured). Neither is closed here.
  explicit Program(const std::vector<std::string>& args, Stream in = kNoStream,
                   Stream out = kNoStream);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const;
  // POSIX: the signal. Windows: SIGINT and SIGBREAK are a console break
  // for the child's group (Wine cannot send one: false then); anything else
  // ends it. False when nothing was sent.
  bool Signal(int signal) const;
  // Standard error so far, without waiting.
  const std::string& ErrSoFar();
  // Standard output so far, without waiting.
  const std::string& OutSoFar();
  // Waits (bounded) until standard error holds `part`.
  bool WaitForErr(const std::string& part, int timeoutMs = 10000);
  // Waits (bounded) until standard output holds `part`.
  bool WaitForOut(const std::string& part, int timeoutMs = 10000);
  // Waits for the exit, reading its output meanwhile.
  Exit Wait(int timeoutMs = 30000);

 private:
  struct Child;  // the system's process and pipes
  // Per system: reads what is there, waiting up to timeoutMs for it; true
  // when it read something.
  bool Collect(int timeoutMs);
  // Per system: true once the child has ended (exit_.code is set then).
  bool Ended();
  // Per system: ends the child now.
  void Kill();
  bool WaitFor(std::string Exit::*which, const std::string& part, int timeoutMs);

  std::unique_ptr<Child> child_;
  Exit exit_;
};

// A pipe that a thread fills with bytes and then closes (with holdOpen, at
// End): a program's standard input that ends.
class Feeder {
 public:
  explicit Feeder(std::vector<std::uint8_t> data, bool holdOpen = false);
  // Closing the read end first ends a write that nobody takes any more.
  ~Feeder();
  Feeder(const Feeder&) = delete;
  Feeder& operator=(const Feeder&) = delete;
  Stream ReadEnd() const { return read_; }
  // All written: the reader has taken all but what the pipe holds.
  bool Done() const { return done_.load(); }
  // Ends the input once every byte is written.
  void End();

 private:
  void CloseWriteEnd();

  std::vector<std::uint8_t> data_;
  bool holdOpen_;
  std::atomic<bool> done_{false};
  Stream read_ = kNoStream, write_ = kNoStream;
  Stream stop_ = kNoStream;  // Windows: ends a write that waits
  std::thread thread_;
};

// Runs the program to its end (bounded by Wait's deadline).
inline Exit RunProgram(const std::vector<std::string>& args) {
  Program p(args);
  EXPECT_TRUE(p.Started());
  return p.Wait();
}

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace quorlink::testing::tools
