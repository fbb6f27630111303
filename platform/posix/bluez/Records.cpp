// WSASetServiceA over BlueZ: a published record is a server profile
// registered with bluetoothd, feeding the socket bound to its channel.
#include <cstdio>

#include "quorlink/platform/BluetoothTypes.h"
#include "platform/posix/bluez/EndpointImpl.h"
#include "platform/posix/bluez/Profiles.h"

namespace quorlink::platform::posix::bluez {

std::string UuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

int Publish(const ServiceRecord& record) {
  const std::string uuid = UuidText(record.serviceClass);
  EndpointImpl* owner = nullptr;
  for (auto* e : Endpoints())
    if (e->Holds(record.radio, record.channel)) owner = e;
  for (auto* r : Registrations()) {
    if (r->client || r->channel != record.channel ||
        (record.radio != 0 && r->radio != record.radio))
      continue;
    if (r->uuid == uuid) return WSAEADDRINUSE;
    // The record replaces the bare profile of a plain listen.
    if (r->bare && r->owner == owner) Unregister(r);
  }
  if (owner != nullptr) {
    if (int code = owner->MakeQueue()) return code;
  }
  Registration r;
  r.uuid = uuid;
  r.owner = owner;
  r.radio = record.radio;
  r.channel = record.channel;
  r.name = record.name;
  r.comment = record.comment;
  Registration* out = nullptr;
  return Register(std::move(r), &out);
}

int Unpublish(std::uint64_t radio, std::uint32_t channel, const GUID& serviceClass) {
  const std::string uuid = UuidText(serviceClass);
  for (auto* r : Registrations()) {
    if (!r->client && !r->bare && r->channel == channel && r->uuid == uuid &&
        (radio == 0 || r->radio == radio)) {
      Unregister(r);
      return 0;
    }
  }
  return WSASERVICE_NOT_FOUND;
}

}  // namespace quorlink::platform::posix::bluez
