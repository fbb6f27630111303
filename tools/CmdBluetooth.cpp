// `quorlink bt ...`: radios, devices, device selection, a server that accepts
// many links and a client terminal, over the system's Bluetooth provider.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <thread>

#include "bluetooth/QuorBluetooth.h"
#include "core/Application.h"
#include "core/Threads.h"
#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"
#include "tools/BluetoothSession.h"
#include "tools/Commands.h"
#include "tools/Failures.h"
#include "tools/Terminal.h"

namespace quorlink::tools {
namespace {

constexpr const char* kUsage =
    "usage: quorlink bt radios|devices|select [--virtual] [--bus ADDRESS] [--dir PATH]\n"
    "       quorlink bt listen [--service NAME] [--name TEXT] [--comment TEXT] [--echo] "
    "[--radio ADDRESS] [--radio-name TEXT] [--dir PATH]\n"
    "       quorlink bt connect ADDRESS [--service NAME] [--radio ADDRESS] [--radio-name TEXT] "
    "[--dir PATH]\n"
    "An ADDRESS has the form (00:11:22:33:44:55); a service NAME is a service class\n"
    "such as \"Serial Port\".";

constexpr const char* kAddressForm = "an address such as (00:11:22:33:44:55)";

// The form the transport's Address takes: 19 characters with the parentheses.
bool IsAddress(const std::string& text) {
  return text.size() == 19 && text.front() == '(' && ParseAddress(text).has_value();
}

bool IsServiceClass(const std::string& name) {
  for (const auto& row : QuorServiceGUIDsName)
    if (name == row.Name) return true;
  return false;
}

struct Options {
  std::string verb;
  std::string address;
  std::optional<std::string> service, name, comment;
  std::optional<std::uint64_t> radio;
  std::string radioName, dir, bus;
  bool echo = false;
  bool virtualRadio = false;
};

std::string Parse(const Args& args, Options& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    std::optional<std::string> v;
    if (a == "--service" || a == "--name" || a == "--comment" || a == "--radio" ||
        a == "--radio-name" || a == "--dir" || a == "--bus") {
      v = value();
      if (!v) return a + " needs a value";
    }
    if (a == "--service") {
      if (!IsServiceClass(*v)) return "--service takes a service class name, not '" + *v + "'";
      o.service = v;
    } else if (a == "--name") {
      o.name = v;
    } else if (a == "--comment") {
      o.comment = v;
    } else if (a == "--radio") {
      o.radio = ParseAddress(*v);
      if (!o.radio) return std::string("--radio takes ") + kAddressForm;
    } else if (a == "--radio-name") {
      o.radioName = *v;
    } else if (a == "--dir") {
      o.dir = *v;
    } else if (a == "--bus") {
      o.bus = *v;
    } else if (a == "--virtual") {
      o.virtualRadio = true;
    } else if (a == "--echo") {
      o.echo = true;
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a;
    } else if (o.verb.empty()) {
      o.verb = a;
    } else if (o.verb == "connect" && o.address.empty()) {
      if (!IsAddress(a)) return "ADDRESS takes " + std::string(kAddressForm) + ", not '" + a + "'";
      o.address = a;
    } else {
      return "unexpected " + a;
    }
  }
  if (o.verb.empty()) return "a subcommand is missing";
  if (o.verb == "connect" && o.address.empty()) return "ADDRESS is missing";
  return {};
}

std::string DeviceName(const BLUETOOTH_DEVICE_INFO& info) {
  std::string s;
  for (int i = 0; i < BLUETOOTH_MAX_NAME_SIZE && info.szName[i] != 0; ++i)
    s += info.szName[i] < 0x80 ? static_cast<char>(info.szName[i]) : '?';
  return s;
}

// radios, devices and select: BlueZ serves them unless --virtual asks.
ProviderRequest Enumeration(const Options& o) {
  return {o.virtualRadio, o.bus, "asked for with --virtual"};
}

// listen and connect: BlueZ links are not carried by this build yet.
ProviderRequest Links(const Options& o) {
  return {true, o.bus,
          o.virtualRadio ? "asked for with --virtual"
                         : "BlueZ links (listen, connect) are not supported yet"};
}

int Radios(const Options& o) {
  BluetoothSession session(o.dir, false, std::nullopt, {}, Enumeration(o));
  std::vector<platform::posix::vradio::RadioInfo> radios;
  if (session.Bluez()) {
    auto& api = platform::BluetoothApi();
    BLUETOOTH_FIND_RADIO_PARAMS params{sizeof params};
    HANDLE radio = nullptr;
    HBLUETOOTH_RADIO_FIND find = api.BluetoothFindFirstRadio(&params, &radio);
    for (bool more = find != nullptr; more; more = api.BluetoothFindNextRadio(find, &radio)) {
      BLUETOOTH_RADIO_INFO info{};
      info.dwSize = sizeof info;
      if (api.BluetoothGetRadioInfo(radio, &info) == ERROR_SUCCESS) {
        BLUETOOTH_DEVICE_INFO named{};
        std::copy(std::begin(info.szName), std::end(info.szName), std::begin(named.szName));
        radios.push_back({info.address.ullLong, DeviceName(named)});
      }
      platform::Kernel().CloseHandle(radio);
    }
    if (find != nullptr) api.BluetoothFindRadioClose(find);
  } else {
    radios = platform::posix::vradio::KnownRadios();
  }
  for (const auto& r : radios)
    std::printf("%s %s\n", AddressText(r.address).c_str(), r.name.c_str());
  if (radios.empty()) std::fprintf(stderr, "quorlink: no radios\n");
  return 0;
}

int Devices(const Options& o) {
  BluetoothSession session(o.dir, true, o.radio, o.radioName, Enumeration(o));
  auto& api = platform::BluetoothApi();
  BLUETOOTH_DEVICE_SEARCH_PARAMS params{};
  params.dwSize = sizeof params;
  params.fReturnConnected = params.fReturnRemembered = params.fReturnUnknown = TRUE;
  BLUETOOTH_DEVICE_INFO info{};
  info.dwSize = sizeof info;
  HBLUETOOTH_DEVICE_FIND find = api.BluetoothFindFirstDevice(&params, &info);
  if (find == nullptr) {
    std::fprintf(stderr, "quorlink: no devices\n");
    return 0;
  }
  do {
    std::printf("%s %s%s\n", AddressText(info.Address.ullLong).c_str(), DeviceName(info).c_str(),
                info.fConnected ? " (connected)" : "");
    info = BLUETOOTH_DEVICE_INFO{};
    info.dwSize = sizeof info;
  } while (api.BluetoothFindNextDevice(find, &info));
  api.BluetoothFindDeviceClose(find);
  return 0;
}

int Select(const Options& o) {
  BluetoothSession session(o.dir, true, o.radio, o.radioName, Enumeration(o));
  TQuorBluetooth bt(nullptr);
  const std::string chosen = bt.SelectDevice();
  if (chosen.empty()) return Fail("no device chosen");
  std::printf("%s\n", chosen.c_str());
  return 0;
}

// Ends the main loop on Ctrl-C, SIGTERM or SIGHUP, from a thread of its own.

void Configure(TQuorBluetooth& bt, const Options& o) {
  if (o.service) {
    bt.SetService(*o.service);
    if (bt.GetService().empty()) throw Exception("unknown service class " + *o.service);
  }
  if (o.name) bt.SetServiceName(*o.name);
  if (o.comment) bt.SetServiceComment(*o.comment);
}

int Listen(const Options& o) {
  BluetoothSession session(o.dir, true, o.radio, o.radioName, Links(o));
  SignalStop stop;
  TQuorBluetooth bt(nullptr);
  std::map<TQuorCustomConnection*, int> ids;
  int nextId = 1;
  bt.OnConnect = [&](TQuorCustomConnection* c) {
    ids[c] = nextId++;
    std::printf("link %d connected from %s \"%s\"\n", ids[c], c->GetRemoteAddress().c_str(),
                c->GetRemoteName().c_str());
    std::fflush(stdout);
  };
  bt.OnRead = [&](TQuorCustomConnection* c, const TQuorByteArray& buf) {
    std::printf("link %d read %zu bytes: %.*s\n", ids[c], buf.size(), static_cast<int>(buf.size()),
                reinterpret_cast<const char*>(buf.data()));
    std::fflush(stdout);
    if (o.echo) c->Write(buf);
  };
  bt.OnDisconnect = [&](TQuorCustomConnection* c) {
    std::printf("link %d disconnected\n", ids[c]);
    std::fflush(stdout);
    ids.erase(c);
  };
  // What the server meets while it runs (a failed accept, say) is told and
  // the server goes on; the transport reports a lasting condition once.
  ApplicationHandleException = [](TObject*) {
    try {
      throw;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quorlink: %s\n", e.what());
    }
  };
  try {
    Configure(bt, o);
    bt.Listen();
  } catch (const std::exception& e) {
    ApplicationHandleException = nullptr;
    return Fail(e.what(), ExitCodeFor(e));
  }
  std::printf("listening on %s for %s \"%s\"; Ctrl-C stops\n", bt.GetLocalAddress().c_str(),
              bt.GetService().c_str(), bt.GetServiceName().c_str());
  std::fflush(stdout);
  std::thread watcher([&] {
    stop.Raised(-1);
    Application().Terminate();
  });
  Application().Run();
  watcher.join();
  bt.Close();
  WaitForBluetoothDrains();
  ApplicationHandleException = nullptr;
  return 0;
}

int Connect(const Options& o) {
  BluetoothSession session(o.dir, true, o.radio, o.radioName, Links(o));
  SignalStop stop;
  TQuorBluetooth bt(nullptr);
  int rc = 0;
  std::atomic<bool> linked{false};
  bt.OnConnect = [&](TQuorCustomConnection* c) {
    linked.store(true);
    std::fprintf(stderr, "quorlink: connected to %s \"%s\"; end of input or Ctrl-C closes\n",
                 c->GetRemoteAddress().c_str(), c->GetRemoteName().c_str());
  };
  bt.OnRead = [](TQuorCustomConnection*, const TQuorByteArray& buf) {
    WriteStandardOutput(buf.data(), buf.size());
  };
  bt.OnDisconnect = [](TQuorCustomConnection*) {
    std::fprintf(stderr, "quorlink: link closed\n");
    Application().Terminate();
  };
  ApplicationHandleException = [&](TObject*) {
    try {
      throw;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quorlink: %s\n", e.what());
      rc = ExitCodeFor(e);
    }
    if (rc == 0) rc = kExitFailed;
    Application().Terminate();
  };
  try {
    Configure(bt, o);
    bt.SetAddress(o.address);
    bt.Connect();
  } catch (const std::exception& e) {
    return Fail(e.what(), ExitCodeFor(e));
  }
  if (RunTerminal(bt, stop, &linked) != 0 && rc == 0) rc = kExitFailed;
  bt.Close();
  // What the link still had queued leaves before the program ends.
  WaitForBluetoothDrains();
  ApplicationHandleException = nullptr;
  return rc;
}

int Bluetooth(const Args& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::printf("%s\n%s\n", kUsage, kExitCodeHelp);
    return kExitOk;
  }
  Options o;
  if (std::string error = Parse(args, o); !error.empty())
    return Fail(error + "\n" + kUsage, kExitUsage);
  try {
    if (o.verb == "radios") return Radios(o);
    if (o.verb == "devices") return Devices(o);
    if (o.verb == "select") return Select(o);
    if (o.verb == "listen") return Listen(o);
    if (o.verb == "connect") return Connect(o);
  } catch (const std::exception& e) {
    return Fail(e.what(), ExitCodeFor(e));
  }
  return Fail("unknown subcommand " + o.verb + "\n" + kUsage, kExitUsage);
}

const CommandRegistrar reg("bt",
                           "bt radios|devices|select|listen [--service NAME] [--name TEXT] "
                           "[--comment TEXT]|connect ADDRESS [--service NAME]",
                           "Bluetooth RFCOMM: radios, devices, a server or a client terminal",
                           Bluetooth);

}  // namespace
}  // namespace quorlink::tools
