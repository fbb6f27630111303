// This process's Profile1 objects on bluetoothd's bus, their registrations,
// and the watch on org.bluez: when bluetoothd leaves, the links it handed
// out end and connects in flight fail; when it comes back, the server
// profiles are registered again.
#include "platform/posix/bluez/Profiles.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Bus.h"
#include "platform/posix/bluez/EndpointImpl.h"
#include "quorlink/platform/BluetoothTypes.h"

namespace quorlink::platform::posix::bluez {

namespace {

constexpr const char* kRoot = "/org/quorlink/bluez";

struct State {
  std::uint64_t generation = 0;  // the bus the slots below belong to
  sd_bus_slot* profiles = nullptr;
  sd_bus_slot* owner = nullptr;
  std::vector<std::unique_ptr<Registration>> registrations;
  std::vector<EndpointImpl*> endpoints;
  unsigned next = 1;
};

State& S() {
  static State state;
  return state;
}

Registration* FindByPath(const char* path) {
  for (auto& r : S().registrations)
    if (path != nullptr && r->path == path) return r.get();
  return nullptr;
}

int AppendOptions(sd_bus_message* m, const Registration& r);

int RegisterNow(Registration& r) {
  int err = 0;
  sd_bus* bus = Bus::Instance().Get(err);
  if (bus == nullptr) return WSAENETDOWN;
  MessageRef call;
  if (sd_bus_message_new_method_call(bus, &call.m, "org.bluez", "/org/bluez",
                                     "org.bluez.ProfileManager1", "RegisterProfile") < 0 ||
      sd_bus_message_append(call.m, "os", r.path.c_str(), r.uuid.c_str()) < 0)
    return WSAENOBUFS;
  // D-Bus carries only UTF-8 text: a name or comment that is not is refused
  // as what it is, not as a lack of memory.
  if (int q = AppendOptions(call.m, r); q < 0) return q == -EINVAL ? WSAEINVAL : WSAENOBUFS;
  int code = CallBluez(call.m, nullptr);
  r.registered = code == 0;
  return code;
}

void Gone() {
  for (auto& r : S().registrations) r->registered = false;
  // A copy: an endpoint's handler may close another socket.
  auto endpoints = S().endpoints;
  for (auto* e : endpoints)
    if (std::find(S().endpoints.begin(), S().endpoints.end(), e) != S().endpoints.end())
      e->OnBluezGone();
}

void Returned() {
  for (auto& r : S().registrations)
    if (!r->client && !r->registered) RegisterNow(*r);
}

int OnOwnerChanged(sd_bus_message* m, void*, sd_bus_error*) {
  const char *name = nullptr, *before = nullptr, *after = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0) return 0;
  if (name == nullptr || std::strcmp(name, "org.bluez") != 0) return 0;
  if (before != nullptr && *before != 0) Gone();
  if (after != nullptr && *after != 0) Returned();
  return 0;
}

bool IsConnectedStream(int fd) {
  int type = 0;
  socklen_t length = sizeof type;
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM &&
         getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0;
}

int OnProfileCall(sd_bus_message* m, void*, sd_bus_error* error) {
  Registration* r = FindByPath(sd_bus_message_get_path(m));
  const char* member = sd_bus_message_get_member(m);
  if (r == nullptr || member == nullptr)
    return sd_bus_error_set(error, "org.bluez.Error.DoesNotExist", "no such profile");
  if (std::strcmp(member, "Release") == 0) {
    // bluetoothd dropped the profile (it is shutting down, say).
    r->registered = false;
  } else if (std::strcmp(member, "NewConnection") == 0) {
    const char* device = nullptr;
    int fd = -1;
    if (sd_bus_message_read(m, "oh", &device, &fd) < 0)
      return sd_bus_error_set(error, "org.bluez.Error.InvalidArguments", "bad arguments");
    // Only a connected stream socket can carry a link.
    if (!IsConnectedStream(fd))
      return sd_bus_error_set(error, "org.bluez.Error.InvalidArguments",
                              "the descriptor is not a connected stream socket");
    // The message owns fd; the link keeps a copy of its own.
    int link = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (link < 0) return sd_bus_error_set_errno(error, errno);
    if (r->owner == nullptr || !r->owner->OnLink(r, link, ParseAddress(device))) {
      close(link);
      return sd_bus_error_set(error, "org.bluez.Error.Rejected", "nothing accepts this link");
    }
  }
  return sd_bus_reply_method_return(m, nullptr);
}

const sd_bus_vtable kProfileVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Release", "", "", OnProfileCall, 0),
    SD_BUS_METHOD("NewConnection", "oha{sv}", "", OnProfileCall, 0),
    SD_BUS_METHOD("RequestDisconnection", "o", "", OnProfileCall, 0),
    SD_BUS_VTABLE_END,
};

// XML text with its markup characters escaped.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The SDP record in BlueZ's XML form: class, L2CAP and RFCOMM with the
// channel, the public browse group, name and description.
std::string RecordXml(const Registration& r) {
  char channel[8];
  std::snprintf(channel, sizeof channel, "0x%02X", r.channel & 0xFF);
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><record>";
  xml +=
      "<attribute id=\"0x0001\"><sequence><uuid value=\"" + r.uuid + "\"/></sequence></attribute>";
  xml +=
      "<attribute id=\"0x0004\"><sequence><sequence><uuid value=\"0x0100\"/></sequence>"
      "<sequence><uuid value=\"0x0003\"/><uint8 value=\"" +
      std::string(channel) + "\"/></sequence></sequence></attribute>";
  xml += "<attribute id=\"0x0005\"><sequence><uuid value=\"0x1002\"/></sequence></attribute>";
  xml += "<attribute id=\"0x0100\"><text value=\"" + Escaped(r.name) + "\"/></attribute>";
  if (!r.comment.empty())
    xml += "<attribute id=\"0x0101\"><text value=\"" + Escaped(r.comment) + "\"/></attribute>";
  return xml + "</record>";
}

int AppendOptions(sd_bus_message* m, const Registration& r) {
  int q = sd_bus_message_open_container(m, 'a', "{sv}");
  auto text = [&](const char* key, const std::string& value) {
    if (q >= 0) q = sd_bus_message_append(m, "{sv}", key, "s", value.c_str());
  };
  auto flag = [&](const char* key, bool value) {
    if (q >= 0) q = sd_bus_message_append(m, "{sv}", key, "b", value ? 1 : 0);
  };
  text("Name", r.name.empty() ? std::string("Quorlink") : r.name);
  text("Service", r.uuid);
  text("Role", r.client ? "client" : "server");
  flag("RequireAuthentication", false);
  flag("RequireAuthorization", false);
  flag("AutoConnect", false);
  if (!r.client) {
    if (q >= 0)
      q = sd_bus_message_append(m, "{sv}", "Channel", "q", static_cast<std::uint16_t>(r.channel));
    text("ServiceRecord", RecordXml(r));
  }
  if (q >= 0) q = sd_bus_message_close_container(m);
  return q;
}

}  // namespace

sd_bus* ProfileBus(int& err) {
  auto& bus = Bus::Instance();
  sd_bus* b = bus.Get(err);
  if (b == nullptr) return nullptr;
  auto& s = S();
  if (s.generation == bus.Generation()) return b;
  // A new connection: the old one's objects went with it.
  s.profiles = sd_bus_slot_unref(s.profiles);
  s.owner = sd_bus_slot_unref(s.owner);
  for (auto& r : s.registrations) r->registered = false;
  int r = sd_bus_add_fallback_vtable(b, &s.profiles, kRoot, "org.bluez.Profile1", kProfileVtable,
                                     nullptr, nullptr);
  if (r >= 0)
    r = sd_bus_add_match(b, &s.owner,
                         "type='signal',sender='org.freedesktop.DBus',"
                         "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
                         "arg0='org.bluez'",
                         OnOwnerChanged, nullptr);
  if (r < 0) {
    err = -r;
    return nullptr;
  }
  s.generation = bus.Generation();
  bus.OnLost(Gone);
  return b;
}

int CallBluez(sd_bus_message* call, sd_bus_message** reply) {
  std::string name, message;
  int err = Bus::Instance().Call(call, reply, &name, &message);
  if (err == 0) return 0;
  if (name.empty()) return err == ETIMEDOUT ? WSAETIMEDOUT : WSAENETDOWN;
  return WsaErrorFromBluez(name, message);
}

int Register(Registration registration, Registration** out) {
  int err = 0;
  if (ProfileBus(err) == nullptr) return WSAENETDOWN;
  auto& s = S();
  auto r = std::make_unique<Registration>(std::move(registration));
  r->path = std::string(kRoot) + "/profile" + std::to_string(s.next++);
  if (int code = RegisterNow(*r)) return code;
  *out = r.get();
  s.registrations.push_back(std::move(r));
  return 0;
}

void Unregister(Registration* registration) {
  auto& s = S();
  auto it = std::find_if(s.registrations.begin(), s.registrations.end(),
                         [&](const auto& r) { return r.get() == registration; });
  if (it == s.registrations.end()) return;
  int err = 0;
  sd_bus* bus = (*it)->registered ? Bus::Instance().Get(err) : nullptr;
  MessageRef call;
  if (bus != nullptr &&
      sd_bus_message_new_method_call(bus, &call.m, "org.bluez", "/org/bluez",
                                     "org.bluez.ProfileManager1", "UnregisterProfile") >= 0 &&
      sd_bus_message_append(call.m, "o", (*it)->path.c_str()) >= 0)
    CallBluez(call.m, nullptr);
  s.registrations.erase(it);
}

std::vector<Registration*> Registrations() {
  std::vector<Registration*> out;
  for (auto& r : S().registrations) out.push_back(r.get());
  return out;
}

void AddEndpoint(EndpointImpl* endpoint) {
  S().endpoints.push_back(endpoint);
}

void RemoveEndpoint(EndpointImpl* endpoint) {
  auto& s = S();
  std::erase(s.endpoints, endpoint);
  for (auto& r : s.registrations)
    if (r->owner == endpoint) r->owner = nullptr;
}

std::vector<EndpointImpl*> Endpoints() {
  return S().endpoints;
}

std::string UniqueName() {
  int err = 0;
  sd_bus* bus = ProfileBus(err);
  const char* name = nullptr;
  if (bus == nullptr || sd_bus_get_unique_name(bus, &name) < 0 || name == nullptr) return {};
  return name;
}

}  // namespace quorlink::platform::posix::bluez
