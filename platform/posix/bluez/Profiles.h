// The D-Bus side of the BlueZ sockets: this process's Profile1 objects and
// their registrations with bluetoothd, its Agent1, and what happens when
// bluetoothd leaves or comes back. Main thread only.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quorlink::platform::posix::bluez {

class EndpointImpl;

// One profile object and its registration with bluetoothd.
struct Registration {
  std::string path;
  std::string uuid;
  bool client = false;
  EndpointImpl* owner = nullptr;  // fed by its links; null: links are refused
  std::uint64_t radio = 0;
  std::uint32_t channel = 0;
  std::string name;
  std::string comment;
  bool bare = false;  // a listen without a published record
  bool registered = false;
};

// The bus with this process's objects on it; null (err set) when unreachable.
sd_bus* ProfileBus(int& err);
// RegisterProfile of a new registration; a Winsock code. Kept on success.
int Register(Registration registration, Registration** out);
// UnregisterProfile (when bluetoothd still has it) and forgets it.
void Unregister(Registration* registration);
std::vector<Registration*> Registrations();
// The endpoints alive now (bluetoothd's leaving ends their links).
void AddEndpoint(EndpointImpl* endpoint);
void RemoveEndpoint(EndpointImpl* endpoint);
std::vector<EndpointImpl*> Endpoints();

// A synchronous call to bluetoothd: 0, or the Winsock code of its error.
int CallBluez(sd_bus_message* call, sd_bus_message** reply);

}  // namespace quorlink::platform::posix::bluez
