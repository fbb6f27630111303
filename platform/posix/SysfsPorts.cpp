#include "platform/posix/SysfsPorts.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <vector>

#include "platform/PortDevices.h"
#include "platform/posix/PortSystem.h"

namespace quorlink::platform::posix {

namespace {

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string{};
}

std::string FirstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& dir) {
  return dir.substr(0, dir.rfind('/'));
}

// The stable name udev gave the node, if it gave one.
std::string StableName(const std::string& root, const std::string& node) {
  const std::string real = RealPath(root + node);
  if (real.empty()) return {};
  for (const auto& name : Entries(root + "/dev/serial/by-id"))
    if (RealPath(root + "/dev/serial/by-id/" + name) == real) return "/dev/serial/by-id/" + name;
  return {};
}

// Up the device's parents (inside sysfs): the driver that serves it, its bus,
// and for a USB device the interface and the device's ids and strings.
void FromDevice(const std::string& sys, std::string dir, TQuorPortInfo& info) {
  for (; dir.size() > sys.size() && dir.starts_with(sys + "/"); dir = Parent(dir)) {
    if (info.Driver.empty()) {
      // The serial core's own port and controller devices stand between the
      // tty and the device whose driver serves it.
      const std::string driver = RealPath(dir + "/driver");
      if (!driver.empty() && driver.find("/serial-base/") == std::string::npos) {
        info.Driver = BaseName(driver);
        info.Bus = BaseName(RealPath(dir + "/subsystem"));
      }
    }
    if (info.Interface.empty() && Exists(dir + "/bInterfaceNumber")) {
      info.Interface = FirstLine(dir + "/bInterfaceNumber");
      info.InterfaceName = FirstLine(dir + "/interface");
    }
    if (Exists(dir + "/idVendor")) {
      info.Bus = "usb";
      info.VendorId = FirstLine(dir + "/idVendor");
      info.ProductId = FirstLine(dir + "/idProduct");
      info.Manufacturer = FirstLine(dir + "/manufacturer");
      info.Product = FirstLine(dir + "/product");
      info.SerialNumber = FirstLine(dir + "/serial");
      return;
    }
  }
}

// A name the kernel gives a tty: one path component, no "." or "..".
bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

std::optional<TQuorPortInfo> DescribeTty(const std::string& name) {
  if (!PlainName(name)) return std::nullopt;
  const std::string root = PortSystem().Root();
  const std::string tty = root + "/sys/class/tty/" + name;
  // Cheap checks first: most ttys are not ports, and a real path costs a
  // call per component.
  if (!Exists(tty + "/device")) return std::nullopt;
  const std::string type = FirstLine(tty + "/type");
  if (name.starts_with("ttyS") && (type.empty() || type == "0")) return std::nullopt;
  const std::string device = RealPath(tty + "/device");
  if (device.empty()) return std::nullopt;
  TQuorPortInfo info;
  info.Path = "/dev/" + name;
  FromDevice(RealPath(root + "/sys"), device, info);
  info.StableName = StableName(root, info.Path);
  return info;
}

NodeState ProbeNode(const std::string& name) {
  if (!PlainName(name)) return NodeState::kMissing;
  const std::string node = PortSystem().Root() + "/dev/" + name;
  if (PortSystem().faccessat(AT_FDCWD, node.c_str(), R_OK | W_OK, AT_EACCESS) == 0)
    return NodeState::kReady;
  return errno == ENOENT ? NodeState::kMissing : NodeState::kRefused;
}

}  // namespace quorlink::platform::posix

namespace quorlink::platform {

using posix::BaseName;
using posix::RealPath;

std::vector<TQuorPortInfo> OsListPorts() {
  std::vector<TQuorPortInfo> ports;
  for (const auto& tty : posix::Entries(posix::PortSystem().Root() + "/sys/class/tty"))
    if (auto info = posix::DescribeTty(tty)) ports.push_back(std::move(*info));
  return ports;
}

TQuorPortInfo OsDescribeDevice(const std::string& path) {
  const std::string root = posix::PortSystem().Root();
  const std::string real = RealPath(root + path);
  const std::string dev = RealPath(root + "/dev");
  TQuorPortInfo info;
  if (!real.empty() && real.starts_with(dev + "/pts/")) {
    info.Driver = "pty";
  } else if (!real.empty() && real.starts_with(dev + "/")) {
    TQuorPortInfo tty;
    tty.Path = "/dev/" + BaseName(real);
    posix::FromDevice(RealPath(root + "/sys"),
                      RealPath(root + "/sys/class/tty/" + BaseName(real) + "/device"), tty);
    tty.StableName = posix::StableName(root, tty.Path);
    info = std::move(tty);
  }
  info.Path = path;
  return info;
}

std::optional<unsigned> OsDefaultComNumber(const std::string& path) {
  // The backend's own names: COMn is /dev/ttyS{n-1}.
  if (!path.starts_with("/dev/ttyS") || path.size() == 9 || path.size() > 12) return std::nullopt;
  const std::string digits = path.substr(9);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const unsigned n = static_cast<unsigned>(std::stoul(digits)) + 1;
  if (n > 255) return std::nullopt;
  return n;
}

}  // namespace quorlink::platform
