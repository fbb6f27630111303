// `quorlink serial PORT ...`: a terminal on a serial port. Keys (or piped
// standard input) go to the port, what the port receives to standard output.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <thread>

#include "platform/Kernel.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/comport/QuorPortWatcher.h"
#include "quorlink/core/Application.h"
#include "quorlink/core/Threads.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "tools/Failures.h"
#include "tools/SerialKeys.h"
#include "tools/Terminal.h"
#include "tools/TerminalRaw.h"

namespace quorlink::tools {
namespace {

constexpr unsigned kPathPort = 255;  // the COM number a device path is bound to

constexpr const char* kCmdSerialUsage =
    "usage: quorlink serial PORT [--baud N] [--data 5..8] [--parity none|odd|even|mark|space] "
    "[--stop 1|1.5|2] [--flow none|rtscts|xonxoff|dtrdsr] [--dtr on|off] [--rts on|off] "
    "[--reconnect] [--noreset] [--timestamps] [--echo] [--imap MAP] [--omap MAP] [--hex] "
    "[--log FILE] [--bind COMn=PATH]";

constexpr const char* kCmdSerialNotes =
    "PORT is COMn or a device path. What the port receives goes to standard output.\n"
    "At a terminal each key goes to the port as it is typed (Enter sends CR; Ctrl-C goes\n"
    "to the device too); Ctrl-A Ctrl-X exits and Ctrl-A Ctrl-H shows the keys. From a\n"
    "pipe every byte goes to the port (unchanged without --omap), and at end of input\n"
    "every byte is sent before the program exits (it gives up when the device takes\n"
    "nothing for 3 s); Ctrl-C or SIGTERM quits at once and drops what is not sent yet.\n"
    "--baud takes any rate the device can do (921600, 1000000, ...). DTR and RTS stay as\n"
    "the driver has them unless --dtr or --rts is given. A device that goes away ends the\n"
    "program with exit code 1, or with --reconnect it is waited for and opened again. The\n"
    "port's earlier line settings are put back on exit unless --noreset is given. SIGTERM\n"
    "and SIGHUP end the program with exit code 1.";

struct Settings {
  std::string port;
  DWORD baud = 115200;
  int data = 8;
  int parity = paNone;     // a TQuorParity
  int stop = sb1;          // a TQuorStopBits
  int flow = fcNone;       // a TQuorFlowControl
  int dtr = -1, rts = -1;  // -1: as the driver has it
  bool reconnect = false;
  bool noreset = false;
  TerminalOptions terminal;
  std::vector<std::string> binds;
};

const char* TypeName(const std::string& option) {
  if (option == "--parity") return "P";
  if (option == "--stop") return "S";
  if (option == "--flow") return "MODE";
  return "on|off";
}

std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm local = *std::localtime(&t);  // the main thread's alone
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms));
  return text;
}

void Describe(CLI::App& app, Settings& s) {
  DescribeCommand(app, kCmdSerialUsage,
                  std::string(kCmdSerialNotes) + "\n" + kMapHelp + "\n" + kBindHelp);
  app.add_option("PORT", s.port, "COMn or a device path")->required();
  app.add_option("--baud", s.baud, "bits per second (default 115200)")
      ->type_name("N")
      ->check(Check([](const std::string& v) {
        return v.find_first_not_of("0123456789") == std::string::npos && v.size() <= 10 &&
                       std::stoull("0" + v) > 0 && std::stoull("0" + v) <= 0xFFFFFFFFull
                   ? std::string{}
                   : "takes a rate in bits per second (such as 9600 or 921600), not '" + v + "'";
      }));
  app.add_option("--data", s.data, "data bits (default 8)")
      ->type_name("5..8")
      ->check(Check([](const std::string& v) {
        return v.size() == 1 && v[0] >= '5' && v[0] <= '8' ? std::string{}
                                                           : "takes 5 to 8, not '" + v + "'";
      }));
  // By name, with the complaint naming the choices.
  auto choice = [&app](const char* option, const char* what, int& field,
                       std::vector<std::pair<std::string, int>> names) {
    std::string list;
    for (const auto& [name, value] : names) list += (list.empty() ? "" : ", ") + name;
    app.add_option_function<std::string>(
           option,
           [&field, names](const std::string& v) {
             for (const auto& [name, value] : names)
               if (name == v) field = value;
           },
           what)
        ->type_name(TypeName(option))
        ->check(Check([names, list](const std::string& v) {
          for (const auto& n : names)
            if (n.first == v) return std::string{};
          return "takes " + list + ", not '" + v + "'";
        }));
  };
  choice(
      "--parity", "none, odd, even, mark or space (default none)", s.parity,
      {{"none", paNone}, {"odd", paOdd}, {"even", paEven}, {"mark", paMark}, {"space", paSpace}});
  choice("--stop", "stop bits: 1, 1.5 or 2 (default 1)", s.stop,
         {{"1", sb1}, {"1.5", sb15}, {"2", sb2}});
  choice("--flow", "flow control: none, rtscts, xonxoff or dtrdsr (Windows) (default none)", s.flow,
         {{"none", fcNone}, {"rtscts", fcRtsCts}, {"xonxoff", fcXonXoff}, {"dtrdsr", fcDtrDsr}});
  choice("--dtr", "set DTR on or off once the port is open", s.dtr, {{"on", 1}, {"off", 0}});
  choice("--rts", "set RTS on or off once the port is open", s.rts, {{"on", 1}, {"off", 0}});
  app.add_flag("--reconnect", s.reconnect,
               "when the device goes away, wait for it and open it again");
  app.add_flag("--noreset", s.noreset, "leave the port's line settings as this program set them");
  app.add_flag("--timestamps", s.terminal.timestamps, "start each line that arrives with the time");
  AddTerminalOptions(app, s.terminal);
  AddBindOption(app, s.binds);
}

enum class Drained { kSent, kStalled, kInterrupted };

// Bytes written but not yet taken by the device (ours and the driver's).
DWORD Pending(HANDLE h) {
  COMSTAT stat{};
  DWORD errors = 0;
  return platform::Serial().ClearCommError(h, &errors, &stat) ? stat.cbOutQue : 0;
}

// Waits until what was written has left, so that input sent just before the
// end of input is not cut off when the program exits; a device that takes
// nothing for a while, or an interrupt, ends the wait.
Drained Drain(HANDLE h, const SignalStop& stop) {
  DWORD last = 0;
  auto progress = std::chrono::steady_clock::now();
  for (;;) {
    const DWORD pending = Pending(h);
    if (pending == 0) return Drained::kSent;
    const auto now = std::chrono::steady_clock::now();
    if (pending != last) {
      last = pending;
      progress = now;
    } else if (now - progress > std::chrono::seconds(3)) {
      return Drained::kStalled;
    }
    if (stop.Raised(10)) return Drained::kInterrupted;
  }
}

int SerialTerminal(const Args& args) {
  Settings s;
  CLI::App app("", "quorlink serial");
  Describe(app, s);
  if (auto rc = ParseArgs(app, args)) return *rc;
  if (std::string error = ApplyBindings(s.binds); !error.empty())
    return Fail(error + "\n" + kCmdSerialUsage, kExitUsage);
  unsigned number;
  const auto n = platform::ComPortNumber(s.port);
  if (n && (*n < 1 || *n > 255))
    return Fail(s.port + ": COM ports are COM1 to COM255\n" + kCmdSerialUsage, kExitUsage);
  if (n) {
    number = *n;
  } else {
    number = kPathPort;
    platform::BindComPort(number, s.port);
  }
  s.terminal.portKeys = true;
  TerminalSession session(s.terminal, StdinIsTerminal());
  if (std::string error = session.OpenLog(); !error.empty()) return Fail(error, kExitFailed);

  SignalStop stop;

  TQuorComPort port(nullptr);
  port.SetPort(static_cast<std::uint8_t>(number));
  SetRate(port, s.baud);
  port.SetByteSize(static_cast<TQuorByteSize>(s.data));
  port.SetParity(static_cast<TQuorParity>(s.parity));
  port.SetStopBits(static_cast<TQuorStopBits>(s.stop));
  port.SetFlowControl(static_cast<TQuorFlowControl>(s.flow));
  int rc = 0;
  port.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    if (!WriteScreen(session.FromDevice(buf.data(), buf.size(), Now))) Application().Terminate();
  };
  std::optional<DCB> before;  // the port's settings before the first open, to put back
  // Opens the port and sets the lines asked for; a line the device lacks is
  // told, not fatal.
  auto open = [&] {
    port.Connect();
    auto setLine = [&](int wanted, const char* name, void (TQuorComPort::*set)(bool)) {
      if (wanted < 0) return;
      try {
        (port.*set)(wanted == 1);
      } catch (const EQuorTransportException& e) {
        std::fprintf(stderr, "quorlink: cannot set %s: %s\n", name,
                     SysErrorMessage(e.GetErrorCode()).c_str());
      }
    };
    setLine(s.dtr, "DTR", &TQuorComPort::SetDTR);
    setLine(s.rts, "RTS", &TQuorComPort::SetRTS);
  };
  try {
    open();
  } catch (const EQuorTransportException& e) {
    // The library's message stays; the exception's code and kind tell why.
    const Failure why =
        SerialOpenFailure(e.GetKind(), e.GetErrorCode(),
                          LineSettingsText(port.GetLineRate(), s.data, s.parity, s.stop));
    return Fail(std::string(e.what()) + " (" + s.port + "): " + why.reason, why.code);
  } catch (const std::exception& e) {
    return Fail(std::string(e.what()) + " (" + s.port + ")", ExitCodeFor(e));
  }
  if (!s.noreset)
    before = static_cast<TQuorComPortConnection*>(port.GetConnections(0))->GetSettingsBefore();

  // A device that goes away: the program ends, or waits for it to return.
  // The port watcher reopens it as soon as the system announces it; a slow
  // poll serves what no one announces (a pty hung up and free again, Wine).
  std::atomic<bool> ending{false};
  std::atomic<bool> waiterDone{true};
  std::thread waiter;
  TQuorPortWatcher watcher(nullptr);
  auto tryReopen = [&] {  // main thread
    if (ending.load() || port.IsActive()) return;
    try {
      open();
    } catch (const std::exception&) {
      return;  // not yet
    }
    std::fprintf(stderr, "quorlink: %s is back\n", s.port.c_str());
    watcher.SetActive(false);
  };
  watcher.OnArrival = [&](TQuorPortWatcher*, const TQuorPortInfo& info) {
    if (info.Matches(s.port)) tryReopen();
  };
  // The poll says it is done on the main thread, so a later loss there either
  // finds it still polling or can join it at once.
  auto pollForReturn = [&] {
    bool back = false;
    while (!back && !ending.load() && !stop.Raised(1000)) {
      TThread::Synchronize([&] {
        tryReopen();
        if ((back = port.IsActive())) waiterDone.store(true);
      });
    }
    if (!back) waiterDone.store(true);
  };
  port.OnDisconnect = [&](TQuorCustomConnection*) {
    const DWORD why = port.GetLinkError();
    if (why == 0) return;  // this program's own close
    std::fprintf(stderr, "\nquorlink: %s went away: %s\n", s.port.c_str(),
                 SysErrorMessage(why).c_str());
    if (!s.reconnect) {
      rc = kExitFailed;
      Application().Terminate();
      return;
    }
    std::fprintf(stderr, "quorlink: waiting for %s to return; %s\n", s.port.c_str(),
                 session.HowToLeave().c_str());
    try {
      watcher.SetActive(true);
    } catch (const std::exception&) {
      // No device events here: the poll alone finds the port.
    }
    if (!waiterDone.load()) return;  // the poll still runs and looks again
    if (waiter.joinable()) waiter.join();
    waiterDone.store(false);
    waiter = std::thread(pollForReturn);
  };
  SerialKeys keys(port, {s.data, s.parity, s.stop}, open, s.dtr == 1, s.rts == 1);
  auto command = [&](char key) {
    if (!keys.Run(key)) {
      rc = kExitFailed;
      Application().Terminate();
    }
  };

  // Raw before the banner, so no key typed after it is taken as a line;
  // restored on every way out of here.
  RawKeyboard keyboard;
  std::fprintf(stderr, "quorlink: %s open as %s at %s; %s\n", s.port.c_str(),
               port.GetPortName().c_str(),
               LineSettingsText(port.GetLineRate(), s.data, s.parity, s.stop).c_str(),
               session.HowToLeave().c_str());

  const int ran = RunTerminal(port, session, stop, nullptr, command);
  if (ran != 0) rc = ran;
  ending.store(true);
  while (!waiterDone.load()) platform::Messages().ProcessMessage(10);
  if (waiter.joinable()) waiter.join();
  if (port.ConnectionCount() > 0) {
    HANDLE h = static_cast<TQuorComPortConnection*>(port.GetConnections(0))->GetPortHandle();
    const Drained how = stop.Raised(0) ? Drained::kInterrupted : Drain(h, stop);
    if (how != Drained::kSent) {
      // Nothing may be left for the close to wait on: the port is free for
      // the next program as soon as this one has ended.
      const DWORD dropped = Pending(h);
      platform::Serial().PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
      if (how == Drained::kStalled) {
        Fail(std::to_string(dropped) + " bytes not sent: the device took none for 3 s");
        rc = kExitFailed;
      } else if (dropped > 0) {
        std::fprintf(stderr, "quorlink: interrupted; %lu bytes not sent\n",
                     static_cast<unsigned long>(dropped));
      }
    }
    if (before) {
      DCB earlier = *before;
      platform::Serial().SetCommState(h, &earlier);
    }
  }
  port.OnDisconnect = nullptr;
  port.Close();
  // Asked to end from outside: not a success.
  if (stop.Raised(0) && stop.EndRequested()) rc = kExitFailed;
  return rc;
}

const CommandRegistrar serialCommand(
    "serial", "serial PORT [--baud N] [--data 5..8] [--parity P] [--stop S] ...",
    "a terminal on a serial port (COMn or a device path)", SerialTerminal);

}  // namespace
}  // namespace quorlink::tools
