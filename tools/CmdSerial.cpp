// `quorlink serial PORT ...`: a terminal on a serial port. Standard input goes
// to the port, what the port receives goes to standard output unchanged.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

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
#include "tools/Terminal.h"

namespace quorlink::tools {
namespace {

constexpr unsigned kPathPort = 255;  // the COM number a device path is bound to

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
  std::size_t done = 0;
  while (done < buf.size()) {
    const ssize_t r = ::write(STDOUT_FILENO, buf.data() + done, buf.size() - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(r);
  }
  return true;
}

// Waits (bounded) until what was written has left, so that input sent just
// before the end of input is not cut off when the program exits.
void Drain(TQuorComPort& port) {
  if (port.ConnectionCount() == 0) return;
  HANDLE h = static_cast<TQuorComPortConnection*>(port.GetConnections(0))->GetPortHandle();
  DWORD last = 0;
  auto progress = std::chrono::steady_clock::now();
  for (;;) {
    COMSTAT stat{};
    DWORD errors = 0;
    if (!platform::Serial().ClearCommError(h, &errors, &stat) || stat.cbOutQue == 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (stat.cbOutQue != last) {
      last = stat.cbOutQue;
      progress = now;
    } else if (now - progress > std::chrono::seconds(3)) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int SerialTerminal(const Args& args) {
  Settings s;
  if (std::string error = Parse(args, s); !error.empty()) {
    Fail(error +
         "\nusage: quorlink serial PORT [--baud N] [--data 5..8] "
         "[--parity none|odd|even|mark|space] [--stop 1|1.5|2]");
    return 2;
  }
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
  } catch (const std::exception& e) {
    return Fail(std::string(e.what()) + " (" + s.port + ")");
  }
  std::fprintf(stderr, "quorlink: %s open as %s; end of input or Ctrl-C closes it\n",
               s.port.c_str(), port.GetPortName().c_str());

  rc = RunTerminal(port, stop);
  Drain(port);
  port.Close();
  return rc;
}

const CommandRegistrar reg("serial",
                           "serial PORT [--baud N] [--data 5..8] [--parity P] [--stop 1|1.5|2]",
                           "a terminal on a serial port (COMn or a device path)", SerialTerminal);

}  // namespace
}  // namespace quorlink::tools
