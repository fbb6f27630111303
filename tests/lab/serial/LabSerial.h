// The serial lab cases' fixture: a transport on COM42 bound to the real
// cdc_acm port, the gadget's /dev/ttyGS0 as the device (serial.sh sets both).
// cable.Unplug() takes the gadget off the bus; PlugGadget() puts it back, and
// every case ends with it plugged in.
#pragma once

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "comport/ComPortTestSupport.h"
#include "lab/Lab.h"

namespace quorlink::testing::lab {

// The gadget back on the bus; true once the cdc_acm port can be opened.
inline bool PlugGadget() {
  const std::string udc = Env("QUORLINK_LAB_GADGET") + "/UDC";
  std::string bound;
  std::getline(std::ifstream(udc), bound);
  if (bound.empty()) std::ofstream(udc) << "dummy_udc.0\n";
  for (int i = 0; i < 100; ++i) {
    if (::access(Env("QUORLINK_LAB_PORT").c_str(), R_OK | W_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class LabSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    LAB_REQUIRE("QUORLINK_LAB_PORT");
    port_.emplace();
  }
  void TearDown() override {
    port_.reset();
    if (!Env("QUORLINK_LAB_PORT").empty()) {
      EXPECT_TRUE(PlugGadget());
    }
  }
  comport::CablePort& P() { return *port_; }

 private:
  std::optional<comport::CablePort> port_;
};

}  // namespace quorlink::testing::lab
