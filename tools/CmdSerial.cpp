// `quorlink serial PORT ...`: a terminal on a serial port. Standard input goes
// to the port, what the port receives goes to standard output unchanged.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "comport/QuorComPort.h"
#include "core/Application.h"
#include "platform/Kernel.h"
#include "tools/Commands.h"
#include "tools/Failures.h"
#include "tools/Terminal.h"

namespace quorlink::tools {
namespace {

constexpr unsigned kPathPort = 255;  // the COM number a device path is bound to

constexpr const char* kUsage =
    "usage: quorlink serial PORT [--baud N] [--data 5..8] [--parity none|odd|even|mark|space] "
    "[--stop 1|1.5|2]\n"
    "PORT is COMn or a device path. Standard input goes to the port, what the port\n"
    "receives to standard output. At end of input every byte is sent before the\n"
    "program exits (it gives up when the device takes nothing for 3 s); Ctrl-C quits\n"
    "at once and drops what is not sent yet.";

struct Settings {
  std::string port;
  TQuorBaudRate baud = br115200;
  TQuorByteSize data = 8;
  TQuorParity parity = paNone;
  TQuorStopBits stop = sb1;
};

std::optional<TQuorBaudRate> ParseBaud(const std::string& s) {
  for (int r = br110; r <= br256000; ++r)
    if (std::to_string(BaudRateValue(static_cast<TQuorBaudRate>(r))) == s)
      return static_cast<TQuorBaudRate>(r);
  return std::nullopt;
}

// Empty on success, else what is wrong.
std::string Parse(const Args& args, Settings& out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (a == "--baud") {
      auto v = value();
      auto b = v ? ParseBaud(*v) : std::nullopt;
      if (!b)
        return "--baud takes one of 110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 "
               "57600 115200 128000 256000";
      out.baud = *b;
    } else if (a == "--data") {
      auto v = value();
      if (!v || v->size() != 1 || (*v)[0] < '5' || (*v)[0] > '8') return "--data takes 5 to 8";
      out.data = static_cast<TQuorByteSize>((*v)[0] - '0');
    } else if (a == "--parity") {
      static const char* const kNames[] = {"none", "odd", "even", "mark", "space"};
      auto v = value();
      int found = -1;
      for (int p = 0; p < 5 && v; ++p)
        if (*v == kNames[p]) found = p;
      if (found < 0) return "--parity takes none, odd, even, mark or space";
      out.parity = static_cast<TQuorParity>(found);
    } else if (a == "--stop") {
      auto v = value();
      if (v && *v == "1")
        out.stop = sb1;
      else if (v && *v == "1.5")
        out.stop = sb15;
      else if (v && *v == "2")
        out.stop = sb2;
      else
        return "--stop takes 1, 1.5 or 2";
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a;
    } else if (out.port.empty()) {
      out.port = a;
    } else {
      return "one PORT only";
    }
  }
  if (out.port.empty()) return "PORT is missing";
  return {};
}

bool WriteOut(const TQuorByteArray& buf) {
  return WriteStandardOutput(buf.data(), buf.size());
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
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::printf("%s\n%s\n", kUsage, kExitCodeHelp);
    return kExitOk;
  }
  Settings s;
  if (std::string error = Parse(args, s); !error.empty())
    return Fail(error + "\n" + kUsage, kExitUsage);
  unsigned number;
  if (auto n = platform::ComPortNumber(s.port); n && *n <= 255) {
    number = *n;
  } else {
    number = kPathPort;
    platform::BindComPort(number, s.port);
  }

  SignalStop stop;

  TQuorComPort port(nullptr);
  port.SetPort(static_cast<std::uint8_t>(number));
  port.SetBaudRate(s.baud);
  port.SetByteSize(s.data);
  port.SetParity(s.parity);
  port.SetStopBits(s.stop);
  int rc = 0;
  port.OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
    if (!WriteOut(buf)) Application().Terminate();
  };
  try {
    port.Connect();
  } catch (const EQuorTransportException& e) {
    // The library's message stays; the last error tells the program why.
    const Failure why =
        SerialOpenFailure(platform::Kernel().GetLastError(),
                          LineSettingsText(BaudRateValue(s.baud), s.data, s.parity, s.stop));
    return Fail(std::string(e.what()) + " (" + s.port + "): " + why.reason, why.code);
  } catch (const std::exception& e) {
    return Fail(std::string(e.what()) + " (" + s.port + ")", ExitCodeFor(e));
  }
  std::fprintf(stderr, "quorlink: %s open as %s; end of input or Ctrl-C closes it\n",
               s.port.c_str(), port.GetPortName().c_str());

  rc = RunTerminal(port, stop);
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
  }
  port.Close();
  return rc;
}

const CommandRegistrar reg("serial",
                           "serial PORT [--baud N] [--data 5..8] [--parity P] [--stop 1|1.5|2]",
                           "a terminal on a serial port (COMn or a device path)", SerialTerminal);

}  // namespace
}  // namespace quorlink::tools
