// The Bluetooth lab cases' fixture and tools: the real bluetoothd serving
// both of btvirt's controllers (bluetooth.sh starts them), the library on the
// BlueZ provider, and far ends made without the library: kernel RFCOMM
// sockets from the other controller, sdptool, the bluetoothd process itself.
#pragma once

#include <quorlink/bluetooth/QuorBluetooth.h>
#include <quorlink/core/Classes.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lab/Lab.h"

namespace quorlink::testing::lab {

// hci0 (the library's side) and hci1 (the far end's), as btvirt numbers them.
inline constexpr std::uint64_t kRadio = 0x00AA01000000ull;
inline constexpr std::uint64_t kPeer = 0x00AA01010001ull;
inline constexpr const char* kRadioText = "(00:AA:01:00:00:00)";

// Runs the main loop until done() or the deadline; true when done.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// A shell command's standard output (and error), run to its end.
std::string Shell(const std::string& command);

// One SDP record as `sdptool browse` prints it.
struct SdpRecord {
  std::string name, description, classes, handle;
  int channel = -1;
};
// The records the controller at `address` publishes, browsed from `from`.
std::vector<SdpRecord> Browse(const std::string& address = "00:AA:01:00:00:00",
                              const std::string& from = "hci1");
// The channel of hci0's record named `name`, or -1 when none is published.
int RecordChannel(const std::string& name);

// Each controller's bluetoothd side forgets the other: the device, its bond
// (a link to a bluetoothd profile pairs the two) and its cached records.
void ForgetEachOther();

// A kernel RFCOMM socket from hci1 to hci0's channel, blocking, closed with
// the object; Fd() < 0 when the connect failed.
class FarLink {
 public:
  explicit FarLink(int channel);
  ~FarLink();
  FarLink(const FarLink&) = delete;
  FarLink& operator=(const FarLink&) = delete;
  int Fd() const { return fd_; }
  // Why the connect failed (errno), 0 when it did not.
  int Error() const { return error_; }
  bool Send(const std::string& text) const;
  // Reads until `count` bytes have come, the peer closed or the deadline.
  std::string Receive(std::size_t count, int timeoutMs = 10000) const;
  // True once the peer has closed the link (a read gives end of file).
  bool Ended(int timeoutMs = 10000) const;

 private:
  bool Connect(int channel);

  int fd_ = -1;
  int error_ = 0;
};

// Stops and starts the lab's bluetoothd (start-bluetoothd.sh).
void StopBluetoothd();
// Started again; true once it serves both controllers on the bus.
bool StartBluetoothd();

struct FreeObject {
  void operator()(TObject* object) const { Free(object); }
};
using Transport = std::unique_ptr<TQuorBluetooth, FreeObject>;

// A transport with its events recorded in order ("connect", "read:TEXT",
// "disconnect"), and the errors its sockets raised (Winsock codes).
class LabBluetooth : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Transport NewTransport(std::vector<std::string>& events);
  static int Count(const std::vector<std::string>& events, const std::string& event);

  std::vector<int> errors;
};

}  // namespace quorlink::testing::lab
