// Radios and devices from bluetoothd's object manager.
#include <cerrno>
#include <cstring>

#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Bus.h"

namespace quorlink::platform::posix::bluez {

namespace {

// Reads the variant under the cursor into out when its type matches, and
// skips it otherwise; negative on a malformed message.
int ReadVariant(sd_bus_message* m, char type, void* out) {
  const char* contents = nullptr;
  char actual = 0;
  int r = sd_bus_message_peek_type(m, &actual, &contents);
  if (r < 0) return r;
  const char wanted[2] = {type, 0};
  if (contents == nullptr || std::strcmp(contents, wanted) != 0) return sd_bus_message_skip(m, "v");
  if ((r = sd_bus_message_enter_container(m, 'v', wanted)) < 0) return r;
  if (type == 's' || type == 'o') {
    const char* s = nullptr;
    if ((r = sd_bus_message_read_basic(m, type, &s)) < 0) return r;
    *static_cast<std::string*>(out) = s;
  } else {
    if ((r = sd_bus_message_read_basic(m, type, out)) < 0) return r;
  }
  return sd_bus_message_exit_container(m);
}

int ReadUuids(sd_bus_message* m, std::vector<std::string>& out) {
  const char* contents = nullptr;
  char actual = 0;
  int r = sd_bus_message_peek_type(m, &actual, &contents);
  if (r < 0) return r;
  if (contents == nullptr || std::strcmp(contents, "as") != 0) return sd_bus_message_skip(m, "v");
  if ((r = sd_bus_message_enter_container(m, 'v', "as")) < 0) return r;
  char** strv = nullptr;
  if ((r = sd_bus_message_read_strv(m, &strv)) < 0) return r;
  for (char** s = strv; s != nullptr && *s != nullptr; ++s) {
    out.emplace_back(*s);
    free(*s);
  }
  free(strv);
  return sd_bus_message_exit_container(m);
}

// One interface's properties: a{sv}.
int ReadProperties(sd_bus_message* m, const std::string& iface, Adapter& adapter, Device& device) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if ((r = sd_bus_message_read_basic(m, 's', &key)) < 0) return r;
    const std::string k = key;
    std::string text;
    int flag = 0;
    if (iface == "org.bluez.Adapter1" && k == "Address") {
      r = ReadVariant(m, 's', &text);
      adapter.address = ParseAddress(text);
    } else if (iface == "org.bluez.Adapter1" && k == "Alias") {
      r = ReadVariant(m, 's', &adapter.name);
    } else if (iface == "org.bluez.Adapter1" && k == "Powered") {
      r = ReadVariant(m, 'b', &flag);
      adapter.powered = flag != 0;
    } else if (iface == "org.bluez.Device1" && k == "Address") {
      r = ReadVariant(m, 's', &text);
      device.address = ParseAddress(text);
    } else if (iface == "org.bluez.Device1" && k == "Alias") {
      r = ReadVariant(m, 's', &device.name);
    } else if (iface == "org.bluez.Device1" && k == "Adapter") {
      const char* contents = nullptr;
      char t = 0;
      r = sd_bus_message_peek_type(m, &t, &contents);
      if (r >= 0 && contents != nullptr && std::strcmp(contents, "o") == 0)
        r = ReadVariant(m, 'o', &device.adapterPath);
      else if (r >= 0)
        r = sd_bus_message_skip(m, "v");
    } else if (iface == "org.bluez.Device1" && k == "Class") {
      r = ReadVariant(m, 'u', &device.deviceClass);
    } else if (iface == "org.bluez.Device1" && k == "Connected") {
      r = ReadVariant(m, 'b', &flag);
      device.connected = flag != 0;
    } else if (iface == "org.bluez.Device1" && k == "Paired") {
      r = ReadVariant(m, 'b', &flag);
      device.paired = flag != 0;
    } else if (iface == "org.bluez.Device1" && k == "UUIDs") {
      r = ReadUuids(m, device.uuids);
    } else {
      r = sd_bus_message_skip(m, "v");
    }
    if (r < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

}  // namespace

std::uint64_t ParseAddress(const std::string& text) {
  // The last 17 characters: six pairs of hex digits split by ':' or '_'.
  if (text.size() < 17) return 0;
  const std::string t = text.substr(text.size() - 17);
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 17; ++i) {
    const char c = t[i];
    if (i % 3 == 2) {
      if (c != ':' && c != '_') return 0;
      continue;
    }
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
    if (digit < 0) return 0;
    value = value << 4 | static_cast<std::uint64_t>(digit);
  }
  return value;
}

int Objects(std::vector<Adapter>& adapters, std::vector<Device>& devices) {
  adapters.clear();
  devices.clear();
  int err = 0;
  sd_bus* bus = Bus::Instance().Get(err);
  if (bus == nullptr) return err;
  MessageRef call, reply;
  int r = sd_bus_message_new_method_call(bus, &call.m, "org.bluez", "/",
                                         "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
  if (r < 0) return -r;
  if ((err = Bus::Instance().Call(call.m, &reply.m, nullptr)) != 0) return err;
  sd_bus_message* m = reply.m;
  if ((r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}")) < 0) return EBADMSG;
  while ((r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
    const char* path = nullptr;
    if (sd_bus_message_read_basic(m, 'o', &path) < 0) return EBADMSG;
    if (sd_bus_message_enter_container(m, 'a', "{sa{sv}}") < 0) return EBADMSG;
    Adapter adapter;
    Device device;
    bool isAdapter = false, isDevice = false;
    while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
      const char* iface = nullptr;
      if (sd_bus_message_read_basic(m, 's', &iface) < 0) return EBADMSG;
      const std::string name = iface;
      isAdapter |= name == "org.bluez.Adapter1";
      isDevice |= name == "org.bluez.Device1";
      if (ReadProperties(m, name, adapter, device) < 0) return EBADMSG;
      if (sd_bus_message_exit_container(m) < 0) return EBADMSG;
    }
    if (r < 0 || sd_bus_message_exit_container(m) < 0 || sd_bus_message_exit_container(m) < 0)
      return EBADMSG;
    if (isAdapter) {
      adapter.path = path;
      adapters.push_back(std::move(adapter));
    } else if (isDevice) {
      device.path = path;
      devices.push_back(std::move(device));
    }
  }
  return r < 0 ? EBADMSG : 0;
}

}  // namespace quorlink::platform::posix::bluez
