// Pairing for the device picker: a "NoInputNoOutput" agent of this process
// (bluetoothd then uses just-works pairing, and asks this agent, not the
// desktop's, for what Device1.Pair of this process needs) and the Pair call.
#include <algorithm>
#include <cstring>
#include <memory>

#include "quorlink/platform/BluetoothTypes.h"
#include "platform/posix/bluez/Bluez.h"
#include "platform/posix/bluez/Bus.h"
#include "platform/posix/bluez/Endpoint.h"
#include "platform/posix/bluez/Profiles.h"

namespace quorlink::platform::posix::bluez {

namespace {

constexpr const char* kAgentPath = "/org/quorlink/bluez/agent";
// Pairing waits for the remote side, and on some devices for its user.
constexpr std::uint64_t kPairUsec = 60'000'000;

struct AgentState {
  std::uint64_t generation = 0;
  sd_bus_slot* object = nullptr;
  bool registered = false;
};

AgentState& Agent() {
  static AgentState state;
  return state;
}

// Nothing to show and nothing to type: confirmations and authorisations are
// granted, requests for a PIN or passkey refused.
int OnAgentCall(sd_bus_message* m, void*, sd_bus_error* error) {
  const char* member = sd_bus_message_get_member(m);
  if (member == nullptr) return sd_bus_reply_method_return(m, nullptr);
  if (std::strcmp(member, "RequestPinCode") == 0 || std::strcmp(member, "RequestPasskey") == 0)
    return sd_bus_error_set(error, "org.bluez.Error.Rejected", "no input on this agent");
  if (std::strcmp(member, "Release") == 0) Agent().registered = false;
  return sd_bus_reply_method_return(m, nullptr);
}

const sd_bus_vtable kAgentVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Release", "", "", OnAgentCall, 0),
    SD_BUS_METHOD("RequestPinCode", "o", "s", OnAgentCall, 0),
    SD_BUS_METHOD("DisplayPinCode", "os", "", OnAgentCall, 0),
    SD_BUS_METHOD("RequestPasskey", "o", "u", OnAgentCall, 0),
    SD_BUS_METHOD("DisplayPasskey", "ouq", "", OnAgentCall, 0),
    SD_BUS_METHOD("RequestConfirmation", "ou", "", OnAgentCall, 0),
    SD_BUS_METHOD("RequestAuthorization", "o", "", OnAgentCall, 0),
    SD_BUS_METHOD("AuthorizeService", "os", "", OnAgentCall, 0),
    SD_BUS_METHOD("Cancel", "", "", OnAgentCall, 0),
    SD_BUS_VTABLE_END,
};

int EnsureAgent(sd_bus* bus) {
  auto& a = Agent();
  if (a.generation != Bus::Instance().Generation()) {
    a.object = sd_bus_slot_unref(a.object);
    a.registered = false;
    if (sd_bus_add_object_vtable(bus, &a.object, kAgentPath, "org.bluez.Agent1", kAgentVtable,
                                 nullptr) < 0)
      return WSAENOBUFS;
    a.generation = Bus::Instance().Generation();
  }
  if (a.registered) return 0;
  MessageRef call;
  if (sd_bus_message_new_method_call(bus, &call.m, "org.bluez", "/org/bluez",
                                     "org.bluez.AgentManager1", "RegisterAgent") < 0 ||
      sd_bus_message_append(call.m, "os", kAgentPath, "NoInputNoOutput") < 0)
    return WSAENOBUFS;
  int code = CallBluez(call.m, nullptr);
  if (code == WSAEADDRINUSE) code = 0;  // AlreadyExists: this process's agent is there
  a.registered = code == 0;
  return code;
}

struct PairCall {
  sd_bus_slot* slot = nullptr;
  std::function<void(int)> done;
};

}  // namespace

int Pair(std::uint64_t address, std::function<void(int wsaError)> done) {
  int err = 0;
  sd_bus* bus = ProfileBus(err);
  if (bus == nullptr) return WSAENETDOWN;
  std::vector<Adapter> adapters;
  std::vector<Device> devices;
  if (Objects(adapters, devices) != 0) return WSAENETDOWN;
  auto d = std::find_if(devices.begin(), devices.end(),
                        [&](const Device& x) { return x.address == address; });
  if (d == devices.end()) return WSAEHOSTUNREACH;
  if (d->paired) return 0;
  if (int code = EnsureAgent(bus)) return code;
  MessageRef call;
  if (sd_bus_message_new_method_call(bus, &call.m, "org.bluez", d->path.c_str(),
                                     "org.bluez.Device1", "Pair") < 0)
    return WSAENOBUFS;
  auto* pending = new PairCall{nullptr, std::move(done)};
  // Floating: the call ends with its reply (or the bus), and frees pending.
  int r = sd_bus_call_async(
      bus, &pending->slot, call.m,
      [](sd_bus_message* reply, void* data, sd_bus_error*) {
        std::unique_ptr<PairCall> p(static_cast<PairCall*>(data));
        sd_bus_slot_unref(p->slot);
        const sd_bus_error* e = sd_bus_message_get_error(reply);
        int code = 0;
        if (e != nullptr && sd_bus_error_is_set(e))
          code = WsaErrorFromBluez(e->name, e->message != nullptr ? e->message : "");
        p->done(code);
        return 0;
      },
      pending, kPairUsec);
  if (r < 0) {
    delete pending;
    return WSAENETDOWN;
  }
  return WSAEWOULDBLOCK;
}

}  // namespace quorlink::platform::posix::bluez
