// The port listing on a made-up sysfs and /dev, and the kernel's uevents as
// recorded from its netlink socket.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/Uevent.h"
#include "quorlink/comport/QuorPortList.h"
#include "support/ComBinding.h"
#include "support/posix/FakePortTree.h"
#include "support/posix/FaultyPortSystem.h"

namespace quorlink::testing {
namespace {

std::string Text(const TQuorPortInfo& p) {
  std::string names;
  for (const auto& n : p.ComNames) names += n + " ";
  return p.Path + " | " + p.Device + " | " + p.StableName + " | " + names + "| " + p.Driver +
         " | " + p.Bus + " | " + p.VendorId + ":" + p.ProductId + " | " + p.Manufacturer + " | " +
         p.Product + " | " + p.SerialNumber + " | " + p.Interface + " " + p.InterfaceName;
}

std::vector<std::string> Listing() {
  std::vector<std::string> lines;
  for (const auto& p : ListComPorts()) lines.push_back(Text(p));
  return lines;
}

// Every field of every kind of port, only ports present, no device opened
// (the nodes are FIFOs: an open would hang until the test's timeout).
TEST(PortList, ReadsEachKindOfPortFromSysfsWithoutOpeningIt) {
  FakePortTree tree;
  tree.Add8250(0, 4);
  tree.Add8250(1, 0);  // a name the driver reserves; no port behind it
  tree.AddUsb("ttyACM0", "1-2", "1d6b", "0104", "0123");
  tree.AddUsb("ttyUSB0", "1-3", "0403", "6001", "A6008isP");
  FaultPlan plan;
  FaultyPortSystem system(plan, tree.Root());
  // COM2 names the ACM port by its stable name, COM9 a device the system does
  // not list; COM1 is bound away from ttyS0, which loses its own name.
  ScopedComBinding com2(2, "/dev/serial/by-id/usb-Quorlink_Gadget_0123-if00");
  ScopedComBinding com9(9, "/dev/ttyV0");
  ScopedComBinding com1(1, "/dev/ttyUSB0");
  EXPECT_EQ(Listing(), (std::vector<std::string>{
                           "/dev/ttyACM0 |  | /dev/serial/by-id/usb-Quorlink_Gadget_0123-if00 | "
                           "COM2 | cdc_acm | usb | 1d6b:0104 | Quorlink | Gadget ttyACM0 | 0123 | "
                           "00 Serial ttyACM0",
                           "/dev/ttyS0 |  |  | | serial8250 | platform | : |  |  |  |  ",
                           "/dev/ttyUSB0 |  | /dev/serial/by-id/usb-Quorlink_Gadget_A6008isP-if00 "
                           "| COM1 | ftdi_sio | usb | 0403:6001 | Quorlink | Gadget ttyUSB0 | "
                           "A6008isP | 00 Serial ttyUSB0",
                           "/dev/ttyV0 |  |  | COM9 |  |  | : |  |  |  |  ",
                       }));
  const auto ports = ListComPorts();
  EXPECT_TRUE(ports[0].Matches("com2") && ports[0].Matches("\\\\.\\COM2") &&
              ports[0].Matches("/dev/ttyACM0") && ports[0].Matches(ports[0].StableName));
  EXPECT_FALSE(ports[0].Matches("COM1") || ports[0].Matches("") || ports[1].Matches("COM1"));
  EXPECT_TRUE(plan.Calls().empty());  // listing asks nothing of the watcher's calls

  // Unplugged: gone, though a name bound to its stable name is still listed.
  tree.Remove("ttyACM0");
  const auto after = Listing();
  EXPECT_EQ(after.size(), 4u);
  for (const auto& line : after) EXPECT_FALSE(line.starts_with("/dev/ttyACM0")) << line;
}

// Kernel messages as the netlink socket gives them; udev's own and malformed
// ones are not events.
TEST(PortList, ParsesKernelUeventsAndRejectsWhatIsNotOne) {
  using platform::posix::ParseUevent;
  using namespace std::string_literals;
  const std::string add =
      "add@/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/tty/ttyACM0\0"
      "ACTION=add\0DEVPATH=/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/tty/ttyACM0\0"
      "SUBSYSTEM=tty\0MAJOR=166\0MINOR=0\0DEVNAME=ttyACM0\0SEQNUM=4242\0"s;
  auto event = ParseUevent(add.data(), add.size());
  ASSERT_TRUE(event);
  EXPECT_EQ(event->action, "add");
  EXPECT_EQ(event->subsystem, "tty");
  EXPECT_EQ(event->devname, "ttyACM0");
  EXPECT_EQ(event->devpath, "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/tty/ttyACM0");
  // The last field need not end with a NUL; a field may lack '='.
  const std::string unterminated = "remove@/d\0ACTION=remove\0junk\0DEVPATH=/d\0SUBSYSTEM=tty"s;
  ASSERT_TRUE(ParseUevent(unterminated.data(), unterminated.size()));
  EXPECT_EQ(ParseUevent(unterminated.data(), unterminated.size())->subsystem, "tty");

  for (const std::string& bad : {
           "libudev\0\xfe\xed\xca\xfe"
           "ACTION=add\0DEVPATH=/d\0SUBSYSTEM=tty\0"s,             // udev's, not the kernel's
           "add@/d\0ACTION=add\0DEVPATH=/d\0"s,                    // no SUBSYSTEM
           "add@/d\0ACTION=remove\0DEVPATH=/d\0SUBSYSTEM=tty\0"s,  // header disagrees
           "add@/e\0ACTION=add\0DEVPATH=/d\0SUBSYSTEM=tty\0"s,
           "@/d\0ACTION=\0DEVPATH=/d\0SUBSYSTEM=tty\0"s,
           ""s,
       })
    EXPECT_FALSE(ParseUevent(bad.data(), bad.size())) << bad;
}

}  // namespace
}  // namespace quorlink::testing
