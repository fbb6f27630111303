// Modem lines across a real driver: an RFCOMM TTY pair between btvirt's two
// controllers carries DTR and RTS to the far end as DSR and CTS, so a line set
// by one TQuorComPort raises OnModemChange on the other. The pair is made by
// BlueZ's rfcomm tool, as a user makes one.
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "comport/ComPortTestSupport.h"
#include "lab/bluetooth/LabBluetooth.h"

namespace quorlink::testing::lab {
namespace {

bool Exists(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0;
}

// The two rfcomm tool processes, ended (by their ids) with the object.
struct RfcommPair {
  bool made = false;
  RfcommPair() {
    Shell(
        "rfcomm -i hci0 listen /dev/rfcomm0 7 >/run/lab/rfcomm0.log 2>&1 & echo $! "
        ">/run/lab/rfcomm0.pid");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its channel listens
    Shell(
        "rfcomm -i hci1 connect /dev/rfcomm1 00:AA:01:00:00:00 7 >/run/lab/rfcomm1.log 2>&1 "
        "& echo $! >/run/lab/rfcomm1.pid");
    // The tool's own output is buffered in its log: ask the kernel instead.
    for (int i = 0; i < 100 && !made; ++i) {
      const std::string links = Shell("rfcomm -a");
      made = Exists("/dev/rfcomm0") && Exists("/dev/rfcomm1") &&
             links.find("rfcomm0: ") != std::string::npos &&
             links.find("channel 7 connected", links.find("rfcomm1: ")) != std::string::npos;
      if (!made) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  ~RfcommPair() {
    Shell("kill $(cat /run/lab/rfcomm1.pid) $(cat /run/lab/rfcomm0.pid); sleep 0.5");
  }
  std::string Logs() const {
    return Shell("rfcomm -a; cat /run/lab/rfcomm0.log /run/lab/rfcomm1.log");
  }
};

TEST(LabBluetoothRfcommTty, ALineSetAtOneEndRaisesOnModemChangeAtTheOther) {
  LAB_REQUIRE("QUORLINK_LAB_RADIO");
  RfcommPair pair;
  ASSERT_TRUE(pair.made) << pair.Logs();
  ScopedComBinding bindA(50, "/dev/rfcomm0"), bindB(51, "/dev/rfcomm1");
  TQuorComPort a(nullptr), b(nullptr);
  a.SetPort(50);
  b.SetPort(51);
  std::vector<TQuorModemLines> seen;
  a.OnModemChange = [&](TQuorCustomConnection*, TQuorModemLines lines) { seen.push_back(lines); };
  TQuorByteArray got;
  b.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    got.insert(got.end(), buf.begin(), buf.end());
  };
  a.Connect();
  b.Connect();
  // Each line B sets is an input line at A, seen in A's event.
  struct Step {
    bool dtr, rts;
  };
  for (const Step s :
       {Step{false, true}, Step{false, false}, Step{true, false}, Step{true, true}}) {
    b.SetDTR(s.dtr);
    b.SetRTS(s.rts);
    ASSERT_TRUE(comport::PumpUntil(
        [&] {
          return !seen.empty() && seen.back().Contains(mlDSR) == s.dtr &&
                 seen.back().Contains(mlCTS) == s.rts;
        },
        10000))
        << "DTR " << s.dtr << " RTS " << s.rts << " after " << seen.size() << " events";
    EXPECT_EQ(a.GetModemStatus().Contains(mlDSR), s.dtr);
  }
  a.GetConnections(0)->Write({'l', 'i', 'n', 'e', 's'});
  ASSERT_TRUE(comport::PumpUntil([&] { return got.size() >= 5; }, 20000));
  EXPECT_EQ(got, (TQuorByteArray{'l', 'i', 'n', 'e', 's'}));
  a.Close();
  b.Close();
}

}  // namespace
}  // namespace quorlink::testing::lab
