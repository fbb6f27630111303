// A private bus per test with a stand-in bluetoothd (python-dbusmock serving
// org.bluez from standin_bluez.py), and a control connection to drive it.
// The test skips when dbus-daemon or python-dbusmock is missing.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/bluez/Bluez.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {

class BluezStandIn {
 public:
  static constexpr const char* kDaemon = "/usr/bin/dbus-daemon";
  static constexpr const char* kPython = "/usr/bin/python3";

  // Why the stand-in cannot run here, or empty.
  static std::string Missing() {
    if (access(kDaemon, X_OK) != 0) return "dbus-daemon is not installed";
    if (access(kPython, X_OK) != 0 ||
        system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") != 0)
      return "python3-dbusmock is not installed";
    return {};
  }

  // parameters: JSON for the template ({"adapters": [...], "devices": [...]}),
  // or empty for a bus where nothing serves org.bluez.
  explicit BluezStandIn(const std::string& parameters) {
    char pattern[] = "/tmp/quorlink-bluez-XXXXXX";
    dir_ = mkdtemp(pattern);
    address_ = "unix:path=" + dir_ + "/bus";
    daemon_ =
        Spawn({kDaemon, "--session", "--nofork", "--nopidfile", "--address=" + address_}, {}, true);
    for (int i = 0; i < 500 && !control_; ++i) {
      sd_bus* bus = nullptr;
      if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address_.c_str()) >= 0 &&
          sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0) {
        control_ = bus;
      } else {
        sd_bus_unref(bus);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    if (!parameters.empty()) StartBluetoothd(parameters);
    platform::posix::bluez::SetRequireKernelSocket(false);
    platform::posix::bluez::SetBusAddress(address_);
  }

  ~BluezStandIn() {
    platform::posix::bluez::SetBusAddress("");
    platform::posix::bluez::SetRequireKernelSocket(true);
    sd_bus_flush_close_unref(control_);
    StopBluetoothd();
    Stop(daemon_);
    VirtualRadios::RemoveDirectory(dir_);
  }
  BluezStandIn(const BluezStandIn&) = delete;
  BluezStandIn& operator=(const BluezStandIn&) = delete;

  bool Ready() const { return control_ != nullptr && (parameters_.empty() || served_); }
  const std::string& Address() const { return address_; }
  sd_bus* Control() const { return control_; }

  void StartBluetoothd(const std::string& parameters) {
    parameters_ = parameters;
    const std::string env = "DBUS_SYSTEM_BUS_ADDRESS=" + address_;
    mock_ = Spawn({kPython, "-m", "dbusmock", "--system", "-l", dir_ + "/bluetoothd.log",
                   "--template", QUORLINK_BLUEZ_STANDIN},
                  env);
    served_ = false;
    for (int i = 0; i < 1000 && !served_ && control_; ++i) {
      sd_bus_error error = SD_BUS_ERROR_NULL;
      sd_bus_message* reply = nullptr;
      int has = 0;
      if (sd_bus_call_method(control_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                             "org.bluez") >= 0)
        sd_bus_message_read(reply, "b", &has);
      sd_bus_message_unref(reply);
      sd_bus_error_free(&error);
      served_ = has != 0;
      if (!served_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (served_) served_ = Setup(parameters);
  }
  void StopBluetoothd() {
    Stop(mock_);
    served_ = false;
  }

  // Adds the adapters and devices of the JSON text.
  bool Setup(const std::string& parameters) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_call_method(control_, "org.bluez", "/", "org.bluez.QuorlinkTest", "Setup",
                               &error, nullptr, "s", parameters.c_str());
    sd_bus_error_free(&error);
    return r >= 0;
  }

  // The stand-in's JSON of registered profiles.
  std::string Profiles() const { return Text("Profiles"); }
  std::string Text(const char* method) const {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::string out;
    const char* text = nullptr;
    if (sd_bus_call_method(control_, "org.bluez", "/", "org.bluez.QuorlinkTest", method, &error,
                           &reply, "") >= 0 &&
        sd_bus_message_read(reply, "s", &text) >= 0)
      out = text;
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return out;
  }

  // What Device1.ConnectProfile on device does: an empty error hands owner's
  // client profile a link (see TakeLink), else it fails with error.
  void SetConnect(const std::string& device, const std::string& owner, const std::string& error,
                  const std::string& message) {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_call_method(control_, "org.bluez", "/", "org.bluez.QuorlinkTest", "SetConnect", &e,
                       nullptr, "ssss", device.c_str(), owner.c_str(), error.c_str(),
                       message.c_str());
    sd_bus_error_free(&e);
  }
  // The far end of the oldest link ConnectProfile handed out, or -1.
  int TakeLink() { return TakeFd("TakeLink"); }
  // What the stand-in has logged: each method called on it, in order.
  std::string Log() const {
    std::string text;
    if (FILE* f = std::fopen((dir_ + "/bluetoothd.log").c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text.append(buffer, n);
      std::fclose(f);
    }
    return text;
  }
  // The unique names on the bus other than the control connection's and
  // bluetoothd's: the programs under test.
  std::vector<std::string> Peers() const {
    std::vector<std::string> out;
    const char* self = nullptr;
    sd_bus_get_unique_name(control_, &self);
    std::string bluez;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const char* text = nullptr;
    if (sd_bus_call_method(control_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", &error, &reply, "s",
                           "org.bluez") >= 0 &&
        sd_bus_message_read(reply, "s", &text) >= 0)
      bluez = text;
    reply = sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    char** names = nullptr;
    if (sd_bus_list_names(control_, &names, nullptr) >= 0) {
      for (char** n = names; n != nullptr && *n != nullptr; ++n) {
        if ((*n)[0] == ':' && (self == nullptr || std::string(self) != *n) && bluez != *n)
          out.emplace_back(*n);
        free(*n);
      }
      free(names);
    }
    return out;
  }
  // The stand-in's JSON of registered agents: {path: capability}.
  std::string Agents() const { return Text("Agents"); }

  // Has the stand-in hand owner's profile a link from device; returns the far
  // end (owned by the caller), or -1.
  int NewLink(const std::string& owner, const std::string& profile, const std::string& device) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int fd = -1, out = -1;
    if (sd_bus_call_method(control_, "org.bluez", "/", "org.bluez.QuorlinkTest", "NewLink", &error,
                           &reply, "soo", owner.c_str(), profile.c_str(), device.c_str()) >= 0 &&
        sd_bus_message_read(reply, "h", &fd) >= 0)
      out = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return out;
  }

 private:
  int TakeFd(const char* method) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int fd = -1, out = -1;
    if (sd_bus_call_method(control_, "org.bluez", "/", "org.bluez.QuorlinkTest", method, &error,
                           &reply, "") >= 0 &&
        sd_bus_message_read(reply, "h", &fd) >= 0)
      out = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return out;
  }
  static pid_t Spawn(std::initializer_list<std::string> argv, const std::string& env = {},
                     bool quiet = false) {
    pid_t pid = fork();
    if (pid == 0) {
      // A test killed at its deadline takes its daemons with it.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      if (!env.empty()) putenv(const_cast<char*>(env.c_str()));
      int null = open("/dev/null", O_RDWR);
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      if (quiet) dup2(null, STDERR_FILENO);
      execv(args[0], args.data());
      _exit(127);
    }
    return pid;
  }
  static void Stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }

  std::string dir_;
  std::string address_;
  std::string parameters_;
  pid_t daemon_ = -1;
  pid_t mock_ = -1;
  sd_bus* control_ = nullptr;
  bool served_ = false;
};

}  // namespace quorlink::testing
