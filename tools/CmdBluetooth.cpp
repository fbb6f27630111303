// `quorlink bt ...`: radios, devices, device selection, a server that accepts
// many links and a client terminal, over the system's Bluetooth provider.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/BluetoothApi.h"
#include "platform/Kernel.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothText.h"
#include "quorlink/core/Application.h"
#include "quorlink/core/SysUtils.h"
#include "quorlink/core/Threads.h"
#include "tools/BluetoothSession.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "tools/Failures.h"
#include "tools/ServiceNames.h"
#include "tools/ShownText.h"
#include "tools/SystemBluetooth.h"
#include "tools/Terminal.h"
#include "tools/TerminalRaw.h"

namespace quorlink::tools {
namespace {

constexpr const char* kCmdBluetoothUsageText =
    "usage: quorlink bt radios|devices|select [--virtual] [--bus ADDRESS] [--dir PATH]\n"
    "       quorlink bt listen [--service NAME] [--name TEXT] [--comment TEXT] [--echo] "
    "[--radio ADDRESS] [--radio-name TEXT] [--virtual] [--bus ADDRESS] [--dir PATH]\n"
    "       quorlink bt connect ADDRESS [--service NAME] [--radio ADDRESS] [--radio-name TEXT] "
    "[--virtual] [--bus ADDRESS] [--dir PATH] [--echo] [--imap MAP] [--omap MAP] [--hex] [--log "
    "FILE]";

constexpr const char* kCmdBluetoothNotes =
    "An ADDRESS has the form 00:11:22:33:44:55 (or in parentheses); a service NAME is a\n"
    "service class such as \"Serial Port\" or SerialPortServiceClass, or its UUID (0x1101).\n"
    "'quorlink bt SUBCOMMAND --help' tells each one.";

// The usage with the system stack's own options (none on Windows).
std::string WithSystemOptions(std::string text) {
  const std::string bus = "[--bus ADDRESS] ";
  const std::string options = kSystemBluetoothOptions;
  for (auto at = text.find(bus); at != std::string::npos; at = text.find(bus, at + options.size()))
    text.replace(at, bus.size(), options);
  return text;
}

const std::string kCmdBluetoothUsage = WithSystemOptions(kCmdBluetoothUsageText);

constexpr const char* kListenKeys =
    "Each line typed goes to every link; a line that starts with @N and a space goes\n"
    "to link N only (\"@2 hello\").";

constexpr const char* kAddressForm = "an address such as 00:11:22:33:44:55 or (00:11:22:33:44:55)";

// The form the transport's Address takes (19 characters with the
// parentheses), from that form or the bare one the shell needs no quotes for.
std::string AsAddress(const std::string& text) {
  const std::string wrapped = text.size() == 17 ? "(" + text + ")" : text;
  return wrapped.size() == 19 && wrapped.front() == '(' && ParseAddress(wrapped).has_value()
             ? wrapped
             : std::string{};
}

struct Options {
  std::string verb;
  std::string address;
  std::optional<std::string> service, name, comment;
  std::optional<std::uint64_t> radio;
  std::string radioName, dir, bus;
  bool echo = false;  // listen: every read is written back
  bool virtualRadio = false;
  TerminalOptions terminal;  // connect
};

CLI::Validator CheckWith(bool (*good)(const std::string&), std::string complaint) {
  return tools::Check([good, complaint](const std::string& v) {
    return good(v) ? std::string{} : complaint + ", not '" + v + "'";
  });
}

CLI::App* Verb(CLI::App& app, Options& o, const char* verb, const std::string& usage,
               const char* what) {
  CLI::App* sub = app.add_subcommand(verb, what);
  DescribeCommand(*sub, usage, kCmdBluetoothNotes);
  sub->callback([&o, verb] { o.verb = verb; });
  sub->add_option("--dir", o.dir, "the virtual radios' rendezvous directory")->type_name("PATH");
  AddSystemBluetoothOptions(*sub, o.bus);
  sub->add_flag("--virtual", o.virtualRadio,
                std::string("use the virtual radio, not ") + kSystemBluetoothName);
  return sub;
}

void RadioOptions(CLI::App* sub, Options& o) {
  sub->add_option_function<std::string>(
         "--radio", [&o](const std::string& v) { o.radio = ParseAddress(v); },
         "this program's radio address")
      ->type_name("ADDRESS")
      ->check(CheckWith([](const std::string& v) { return ParseAddress(v).has_value(); },
                        std::string("takes ") + kAddressForm));
  sub->add_option("--radio-name", o.radioName, "this program's radio name")->type_name("TEXT");
}

void ServiceOption(CLI::App* sub, Options& o) {
  sub->add_option("--service", o.service, "the service class: a name or a UUID")
      ->type_name("NAME")
      ->check(tools::Check([](const std::string& v) { return ChooseService(v).error; }));
}

// The service's record text goes out as UTF-8.
void TextOption(CLI::App* sub, const char* option, std::optional<std::string>& value,
                const char* what) {
  sub->add_option(option, value, what)
      ->type_name("TEXT")
      ->check(tools::Check([option](const std::string& v) {
        return IsUtf8(v) ? std::string{}
                         : std::string("not UTF-8 text (it has a byte sequence that is no ") +
                               "character); a Bluetooth record's " + (option + 2) + " is UTF-8";
      }));
}

void Describe(CLI::App& app, Options& o) {
  DescribeCommand(app, kCmdBluetoothUsage, kCmdBluetoothNotes);
  app.require_subcommand(1);
  for (const char* verb : {"radios", "devices", "select"}) {
    const std::string name = verb;
    CLI::App* sub = Verb(app, o, verb,
                         WithSystemOptions("usage: quorlink bt " + name +
                                           " [--virtual] [--bus ADDRESS] [--dir PATH] "
                                           "[--radio ADDRESS] [--radio-name TEXT]"),
                         name == "radios"    ? "list the radios"
                         : name == "devices" ? "list the devices in range"
                                             : "choose a device in a dialog");
    RadioOptions(sub, o);
  }
  CLI::App* listen = Verb(app, o, "listen",
                          WithSystemOptions("usage: quorlink bt listen [--service NAME] "
                                            "[--name TEXT] [--comment TEXT] [--echo] "
                                            "[--radio ADDRESS] [--radio-name TEXT] "
                                            "[--virtual] [--bus ADDRESS] [--dir PATH]"),
                          "a server that accepts many links");
  listen->footer(std::string(kCmdBluetoothNotes) + "\n" + kListenKeys + "\n\n" + kExitCodeHelp);
  ServiceOption(listen, o);
  TextOption(listen, "--name", o.name, "the service's name");
  TextOption(listen, "--comment", o.comment, "the service's comment");
  listen->add_flag("--echo", o.echo, "write every read back to its link");
  RadioOptions(listen, o);
  CLI::App* connect = Verb(
      app, o, "connect",
      WithSystemOptions("usage: quorlink bt connect ADDRESS [--service NAME] "
                        "[--radio ADDRESS] [--radio-name TEXT] [--virtual] [--bus ADDRESS] "
                        "[--dir PATH] [--echo] [--imap MAP] [--omap MAP] [--hex] [--log FILE]"),
      "a terminal on a link to ADDRESS");
  connect->footer(std::string(kCmdBluetoothNotes) + "\n" + kMapHelp + "\n\n" + kExitCodeHelp);
  connect->add_option("ADDRESS", o.address, "the device's address")
      ->required()
      ->check(CheckWith([](const std::string& v) { return !AsAddress(v).empty(); },
                        std::string("takes ") + kAddressForm));
  ServiceOption(connect, o);
  RadioOptions(connect, o);
  AddTerminalOptions(*connect, o.terminal);
}

std::string DeviceName(const BLUETOOTH_DEVICE_INFO& info) {
  return NarrowName(info.szName, BLUETOOTH_MAX_NAME_SIZE);
}

// radios, devices and select: the system's stack serves them unless --virtual asks.
ProviderRequest Enumeration(const Options& o) {
  return {o.virtualRadio, o.bus, "asked for with --virtual"};
}

// listen and connect: the system's stack carries the links unless --virtual asks.
ProviderRequest Links(const Options& o) {
  return {o.virtualRadio, o.bus, "asked for with --virtual"};
}

int Radios(const Options& o) {
  BluetoothSession session(o.dir, false, std::nullopt, {}, Enumeration(o));
  std::vector<platform::vradio::RadioInfo> radios;
  if (session.SystemStack()) {
    auto& api = platform::BluetoothApi();
    BLUETOOTH_FIND_RADIO_PARAMS params{sizeof params};
    HANDLE radio = nullptr;
    HBLUETOOTH_RADIO_FIND find = api.BluetoothFindFirstRadio(&params, &radio);
    for (bool more = find != nullptr; more; more = api.BluetoothFindNextRadio(find, &radio)) {
      BLUETOOTH_RADIO_INFO info{};
      info.dwSize = sizeof info;
      if (api.BluetoothGetRadioInfo(radio, &info) == ERROR_SUCCESS) {
        radios.push_back({info.address.ullLong, NarrowName(info.szName, BLUETOOTH_MAX_NAME_SIZE)});
      }
      platform::Kernel().CloseHandle(radio);
    }
    if (find != nullptr) api.BluetoothFindRadioClose(find);
  } else {
    radios = platform::vradio::KnownRadios();
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
  if (chosen.empty()) {
    // A pairing that failed leaves its reason; a picker left without a choice
    // leaves ERROR_CANCELLED.
    const DWORD error = platform::Kernel().GetLastError();
    if (error == ERROR_SUCCESS || error == ERROR_CANCELLED) return Fail("no device chosen");
    return Fail("the chosen device did not pair: " + SysErrorMessage(error) +
                    (error == WSAEACCES ? " (it wants a PIN or passkey, which this program "
                                          "cannot give: pair it with bluetoothctl first)"
                                        : ""),
                ExitCodeForError(error));
  }
  std::printf("%s\n", chosen.c_str());
  return 0;
}

// A failure as one line with what to do about it, where the program knows.
std::string Told(const std::exception& e) {
  std::string text = FailureText(e);
  // The virtual radio's own calls: its rendezvous folder must be private.
  if (const auto* sys = dynamic_cast<const std::system_error*>(&e);
      sys != nullptr && sys->code().value() == EACCES)
    return text +
           " (the rendezvous folder must be this user's alone: chmod 700 it, or name "
           "another with --dir)";
  const auto* os = dynamic_cast<const EOSError*>(&e);
  switch (os != nullptr ? os->ErrorCode : 0) {
    case WSAEHOSTUNREACH:
      return text +
             ": the device is not known here; it must be discovered (bluetoothctl scan on) "
             "or paired first";
    case WSASERVICE_NOT_FOUND:
      return text + ": the device offers no such service (see --service)";
    case WSAEACCES:
      return text + ": not permitted (is the user in the bluetooth group?)";
    case WSAENETDOWN:
      return text + ": is the radio powered, and bluetoothd running?";
    default:
      return text;
  }
}

void Configure(TQuorBluetooth& bt, const Options& o) {
  if (o.service) {
    const ServiceChoice choice = ChooseService(*o.service);
    if (choice.name.empty()) throw Exception(choice.error);
    bt.SetService(choice.name);
    // The record is named after its service unless told otherwise.
    bt.SetServiceName(choice.words);
    bt.SetServiceComment("Quorlink " + choice.words);
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
    std::printf("link %d read %zu bytes: %s\n", ids[c], buf.size(),
                ShownBytes(buf.data(), buf.size()).c_str());
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
      std::fprintf(stderr, "quorlink: %s\n", Told(e).c_str());
    }
  };
  try {
    Configure(bt, o);
    bt.Listen();
  } catch (const std::exception& e) {
    ApplicationHandleException = nullptr;
    return Fail(Told(e), ExitCodeFor(e));
  }
  std::printf("listening on %s for %s \"%s\"; Ctrl-C stops\n", bt.GetLocalAddress().c_str(),
              bt.GetService().c_str(), bt.GetServiceName().c_str());
  std::fflush(stdout);
  // Typed lines go to the links from the main thread; the end of input
  // leaves the server running until an interrupt.
  auto send = [&](const std::string& line) {
    int only = 0;
    std::size_t skip = 0;
    if (line.size() > 2 && line[0] == '@') {
      const auto space = line.find(' ');
      try {
        only = std::stoi(line.substr(1, space == std::string::npos ? line.npos : space - 1));
        skip = space == std::string::npos ? line.size() : space + 1;
      } catch (const std::exception&) {
        only = 0;
      }
    }
    const TQuorByteArray bytes(line.begin() + static_cast<std::ptrdiff_t>(skip), line.end());
    bool sent = false;
    for (int i = 0; i < bt.ConnectionCount() && !bytes.empty(); ++i) {
      TQuorCustomConnection* c = bt.GetConnections(i);
      if (only != 0 && ids[c] != only) continue;
      sent = true;
      try {
        c->Write(bytes);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "quorlink: link %d: %s\n", ids[c], Told(e).c_str());
      }
    }
    if (!sent) std::fprintf(stderr, "quorlink: no link %s\n", only ? "with that number" : "yet");
  };
  std::thread watcher([&] {
    InputWaiter waiter(stop);
    std::string pending;
    for (bool reading = true;;) {
      const InputWaiter::Result r = waiter.Wait(reading, -1);
      if (r == InputWaiter::kStopped) break;
      if (r != InputWaiter::kInput) continue;
      std::uint8_t buffer[4096];
      const long n = waiter.Read(buffer, sizeof buffer);
      if (n <= 0) {
        reading = false;
        continue;
      }
      pending.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, end + 1);
        pending.erase(0, end + 1);
        TThread::Synchronize([&] { send(line); });
      }
    }
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
  TerminalSession terminal(o.terminal, StdinIsTerminal());
  if (std::string error = terminal.OpenLog(); !error.empty()) return Fail(error, kExitFailed);
  int rc = 0;
  std::atomic<bool> linked{false};
  bt.OnConnect = [&](TQuorCustomConnection* c) {
    linked.store(true);
    std::fprintf(stderr, "quorlink: connected to %s \"%s\"; %s\n", c->GetRemoteAddress().c_str(),
                 c->GetRemoteName().c_str(), terminal.HowToLeave().c_str());
  };
  bt.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    if (!WriteScreen(terminal.FromDevice(buf.data(), buf.size()))) Application().Terminate();
  };
  bt.OnDisconnect = [](TQuorCustomConnection*) {
    std::fprintf(stderr, "quorlink: link closed\n");
    Application().Terminate();
  };
  ApplicationHandleException = [&](TObject*) {
    try {
      throw;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quorlink: %s\n", Told(e).c_str());
      rc = ExitCodeFor(e);
    }
    if (rc == 0) rc = kExitFailed;
    Application().Terminate();
  };
  // Raw before the banner (OnConnect), restored on every way out of here.
  RawKeyboard keyboard;
  try {
    Configure(bt, o);
    bt.SetAddress(AsAddress(o.address));
    bt.Connect();
  } catch (const std::exception& e) {
    return Fail(Told(e), ExitCodeFor(e));
  }
  if (RunTerminal(bt, terminal, stop, &linked) != 0 && rc == 0) rc = kExitFailed;
  bt.Close();
  // What the link still had queued leaves before the program ends.
  WaitForBluetoothDrains();
  ApplicationHandleException = nullptr;
  return rc;
}

int Bluetooth(const Args& args) {
  Options o;
  CLI::App app("", "quorlink bt");
  Describe(app, o);
  if (auto rc = ParseArgs(app, args)) return *rc;
  try {
    if (o.verb == "radios") return Radios(o);
    if (o.verb == "devices") return Devices(o);
    if (o.verb == "select") return Select(o);
    if (o.verb == "listen") return Listen(o);
    if (o.verb == "connect") return Connect(o);
  } catch (const std::exception& e) {
    return Fail(Told(e), ExitCodeFor(e));
  }
  return Fail("unknown subcommand " + o.verb + "\n" + kCmdBluetoothUsage, kExitUsage);
}

const CommandRegistrar btCommand("bt",
                                 "bt radios|devices|select|listen [--service NAME] [--name TEXT] "
                                 "[--comment TEXT]|connect ADDRESS [--service NAME]",
                                 "Bluetooth RFCOMM: radios, devices, a server or a client terminal",
                                 Bluetooth);

}  // namespace
}  // namespace quorlink::tools
