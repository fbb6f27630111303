#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "tools/Ports.h"

namespace quorlink::tools {

namespace {

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string{};
}

std::string FirstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The stable name udev gave the device, if it gave one.
std::string ById(const std::string& devicePath) {
  const std::string real = RealPath(devicePath);
  for (const auto& name : Entries("/dev/serial/by-id")) {
    const std::string link = "/dev/serial/by-id/" + name;
    if (!real.empty() && RealPath(link) == real) return link;
  }
  return {};
}

// sysfs for a tty name: driver and, up the device's parents, its USB device.
void FromSysfs(const std::string& tty, SerialPortInfo& info) {
  const std::string device = "/sys/class/tty/" + tty + "/device";
  // The serial core's own port and controller devices stand between the tty
  // and the device whose driver serves it.
  for (std::string dir = RealPath(device); dir.size() > 1; dir = dir.substr(0, dir.rfind('/'))) {
    const std::string driver = RealPath(dir + "/driver");
    if (driver.empty() || driver.find("/serial-base/") != std::string::npos) continue;
    info.driver = BaseName(driver);
    break;
  }
  for (std::string dir = RealPath(device); dir.size() > 1; dir = dir.substr(0, dir.rfind('/'))) {
    std::string vendor = FirstLine(dir + "/idVendor");
    if (vendor.empty()) continue;
    info.usbId = vendor + ":" + FirstLine(dir + "/idProduct");
    info.manufacturer = FirstLine(dir + "/manufacturer");
    info.product = FirstLine(dir + "/product");
    info.serial = FirstLine(dir + "/serial");
    break;
  }
}

}  // namespace

const char* const kPortsNotes =
    "One block a port: its device path, then what the system knows of it (a stable\n"
    "by-id name, the driver, a USB device's vendor:product, names and serial number)\n"
    "and the COM names that open it. Bound ports are listed even when they are not\n"
    "serial devices the system lists (a pty, say).";

std::vector<SerialPortInfo> FindSerialPorts() {
  std::vector<SerialPortInfo> ports;
  for (const auto& tty : Entries("/sys/class/tty")) {
    // Only ttys of a device; virtual consoles and ptys have none.
    struct stat st;
    if (stat(("/sys/class/tty/" + tty + "/device").c_str(), &st) != 0) continue;
    // The 8250 driver names ports that are not there; their type is 0.
    const std::string type = FirstLine("/sys/class/tty/" + tty + "/type");
    if (tty.rfind("ttyS", 0) == 0 && (type.empty() || type == "0")) continue;
    SerialPortInfo info;
    info.path = "/dev/" + tty;
    FromSysfs(tty, info);
    info.byId = ById(info.path);
    ports.push_back(std::move(info));
  }
  return ports;
}

SerialPortInfo DescribeDevice(const std::string& path) {
  SerialPortInfo info;
  info.path = path;
  const std::string real = RealPath(path);
  if (real.rfind("/dev/pts/", 0) == 0) {
    info.driver = "pty";
  } else if (real.rfind("/dev/", 0) == 0) {
    FromSysfs(BaseName(real), info);
    info.byId = ById(path);
  }
  return info;
}

std::optional<unsigned> DefaultComNumber(const std::string& path) {
  // The backend's own names: COMn is /dev/ttyS{n-1}.
  const std::string name = BaseName(path);
  if (name.rfind("ttyS", 0) != 0 || name.size() == 4) return std::nullopt;
  const std::string digits = name.substr(4);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 3)
    return std::nullopt;
  const unsigned n = static_cast<unsigned>(std::stoul(digits)) + 1;
  if (n > 255) return std::nullopt;
  return n;
}

}  // namespace quorlink::tools
