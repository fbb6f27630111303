// A made-up sysfs and /dev in a temporary folder, laid out as the kernel lays
// out a USB CDC-ACM port, a USB-serial adapter and 8250 ports, read through a
// FaultyPortSystem rooted there. Device nodes are FIFOs: anything that opens
// one to find out about it hangs, so the listing's tests fail by timeout.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quorlink::testing {

class FakePortTree {
 public:
  FakePortTree() {
    char pattern[] = "/tmp/quorlink-ports-XXXXXX";
    root_ = ::mkdtemp(pattern);
    Write("sys/bus/usb/drivers/cdc_acm/.keep", "");
    Write("sys/bus/usb-serial/drivers/ftdi_sio/.keep", "");
    Write("sys/bus/platform/drivers/serial8250/.keep", "");
    Write("sys/bus/serial-base/drivers/port/.keep", "");
    Write("sys/bus/pnp/.keep", "");
    // A virtual console: a tty with no device.
    Class("tty0", "devices/virtual/tty/tty0", "");
    // The 8250 driver's ports: the platform device serves them through the
    // serial core's own port devices.
    Link("sys/devices/platform/serial8250/driver", "sys/bus/platform/drivers/serial8250");
    Link("sys/devices/platform/serial8250/subsystem", "sys/bus/platform");
  }
  ~FakePortTree() { std::filesystem::remove_all(root_); }
  FakePortTree(const FakePortTree&) = delete;
  FakePortTree& operator=(const FakePortTree&) = delete;

  const std::string& Root() const { return root_; }

  // ttySn of the 8250 driver; type 0 is a name with no port behind it.
  void Add8250(int n, int type) {
    const std::string port =
        "devices/platform/serial8250/serial8250:0/serial8250:0." + std::to_string(n);
    Link("sys/" + port + "/driver", "sys/bus/serial-base/drivers/port");
    Class("ttyS" + std::to_string(n), port + "/tty/ttyS" + std::to_string(n), port);
    Write("sys/class/tty/ttyS" + std::to_string(n) + "/type", std::to_string(type) + "\n");
  }

  // A USB device at bus port `usbPort` whose interface 00 is the port: a
  // CDC-ACM function (ttyACMn, the tty under the interface), or an FTDI
  // adapter (ttyUSBn, a usb-serial device between them).
  void AddUsb(const std::string& tty, const std::string& usbPort, const std::string& vendor,
              const std::string& product, const std::string& serial) {
    const std::string device = "devices/pci0000:00/0000:00:14.0/usb1/" + usbPort;
    const std::string function = device + "/" + usbPort + ":1.0";
    for (const auto& [file, text] : {std::pair{"idVendor", vendor},
                                     {"idProduct", product},
                                     {"manufacturer", std::string("Quorlink")},
                                     {"product", std::string("Gadget ") + tty},
                                     {"serial", serial}})
      Write("sys/" + device + "/" + file, text + "\n");
    Write("sys/" + function + "/bInterfaceNumber", "00\n");
    Write("sys/" + function + "/interface", "Serial " + tty + "\n");
    Link("sys/" + function + "/subsystem", "sys/bus/usb");
    Link("sys/" + device + "/subsystem", "sys/bus/usb");
    if (tty.starts_with("ttyUSB")) {
      Link("sys/" + function + "/driver", "sys/bus/usb/drivers/ftdi_sio");
      Link("sys/" + function + "/" + tty + "/driver", "sys/bus/usb-serial/drivers/ftdi_sio");
      Class(tty, function + "/" + tty + "/tty/" + tty, function + "/" + tty);
    } else {
      Link("sys/" + function + "/driver", "sys/bus/usb/drivers/cdc_acm");
      Class(tty, function + "/tty/" + tty, function);
    }
    Link("dev/serial/by-id/usb-Quorlink_Gadget_" + serial + "-if00", "dev/" + tty, false);
  }

  // What unplugging leaves: no class entry, node or by-id link.
  void Remove(const std::string& tty) {
    std::filesystem::remove(root_ + "/sys/class/tty/" + tty);
    std::filesystem::remove(root_ + "/dev/" + tty);
    for (const auto& e : std::filesystem::directory_iterator(root_ + "/dev/serial/by-id"))
      if (!std::filesystem::exists(e.path())) std::filesystem::remove(e.path());
  }

 private:
  void Write(const std::string& file, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(root_ + "/" + file).parent_path());
    std::ofstream(root_ + "/" + file) << text;
  }
  // A relative symbolic link, as sysfs makes them.
  void Link(const std::string& link, const std::string& target, bool makeTarget = true) {
    const std::filesystem::path at(root_ + "/" + link);
    std::filesystem::create_directories(at.parent_path());
    if (makeTarget) std::filesystem::create_directories(root_ + "/" + target);
    std::filesystem::remove(at);  // plugged in again
    std::filesystem::create_symlink(
        std::filesystem::path(root_ + "/" + target).lexically_relative(at.parent_path()), at);
  }
  // /sys/class/tty/NAME, its device link (when it has a device) and node.
  void Class(const std::string& name, const std::string& dir, const std::string& device) {
    Write("sys/" + dir + "/dev", "4:0\n");
    if (!device.empty()) Link("sys/" + dir + "/device", "sys/" + device);
    Link("sys/class/tty/" + name, "sys/" + dir);
    std::filesystem::create_directories(root_ + "/dev");
    if (!device.empty()) ::mkfifo((root_ + "/dev/" + name).c_str(), 0600);
  }

  std::string root_;
};

}  // namespace quorlink::testing
