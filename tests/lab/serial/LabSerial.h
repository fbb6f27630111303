// The serial lab cases' fixture: a transport on COM42 bound to the real
// cdc_acm port, the gadget's /dev/ttyGS0 as the device (serial.sh sets both).
#pragma once

#include "comport/ComPortTestSupport.h"
#include "lab/Lab.h"

namespace quorlink::testing::lab {

class LabSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    LAB_REQUIRE("QUORLINK_LAB_PORT");
    port_.emplace();
  }
  void TearDown() override { port_.reset(); }
  comport::CablePort& P() { return *port_; }

 private:
  std::optional<comport::CablePort> port_;
};

}  // namespace quorlink::testing::lab
