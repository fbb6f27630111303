// Helpers for the serial tests: a transport wired to a cable, an event
// recorder, the main loop driven in bounded loops, and process counters.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "comport/ProcessCounters.h"
#include "comport/SerialCable.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/core/Application.h"
#include "support/ComBinding.h"

// Own namespace: other suites' helpers have the same names.
namespace quorlink::testing::comport {

// Runs the main loop until `done` holds or the deadline passes.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    platform::Messages().ProcessMessage(5);
  }
  return true;
}

// Runs the main loop for a while, handling whatever comes.
inline void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

// The threads alive now; Back() waits (bounded) until every thread started
// since has ended, whatever earlier tests left running.
struct ThreadBaseline {
  std::set<std::string> ids;
  ThreadBaseline() {
    std::thread([] {}).join();  // a sanitizer starts its own thread on first use
    // GoogleTest on Windows watches each thread that first reports (a skip, a
    // failure) with a thread of its own, alive until the watched one ends:
    // the main thread's watcher starts here, before the count.
    { ::testing::ScopedTrace warm(__FILE__, __LINE__, ""); }
    ids = ThreadIds();
  }
  bool Back(int timeoutMs = 5000) const {
    return PumpUntil(
        [&] {
          for (const auto& id : ThreadIds())
            if (!ids.contains(id)) return false;
          return true;
        },
        timeoutMs);
  }
};

// Records every event of a transport, in order.
struct EventLog {
  std::vector<std::string> events;
  TQuorByteArray received;
  int reads = 0;

  void Attach(TQuorComPort& port) {
    port.OnConnect = [this](TQuorCustomConnection*) { events.push_back("connect"); };
    port.OnDisconnect = [this](TQuorCustomConnection*) { events.push_back("disconnect"); };
    port.OnRead = [this](TQuorCustomConnection*, const TQuorByteArray& buf) {
      ++reads;
      received.insert(received.end(), buf.begin(), buf.end());
    };
  }
  int Count(const std::string& e) const {
    int n = 0;
    for (const auto& x : events) n += x == e;
    return n;
  }
};

inline std::vector<std::uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

// Bytes that differ from their neighbours over long runs, so a lost, doubled
// or moved block shows.
inline TQuorByteArray Pattern(std::size_t size, std::uint8_t seed) {
  TQuorByteArray data(size);
  for (std::size_t i = 0; i < size; ++i)
    data[i] = static_cast<std::uint8_t>(seed + i * 13 + i / 251);
  return data;
}

// A transport on COM<kPort> bound to a fresh cable.
struct CablePort {
  static constexpr unsigned kPort = 42;
  ThreadBaseline threads;
  SerialCable cable;
  ScopedComBinding binding{kPort, cable.PortPath()};
  EventLog log;  // outlives the transport, whose destruction still raises events
  TQuorComPort port{nullptr};

  CablePort() {
    port.SetPort(kPort);
    log.Attach(port);
  }
  // Leaves no thread of this test running into the next one.
  ~CablePort() {
    port.Close();
    EXPECT_TRUE(threads.Back());
  }
  TQuorCustomConnection& Connection() { return *port.GetConnections(0); }
};

}  // namespace quorlink::testing::comport
