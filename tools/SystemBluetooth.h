// The system's own Bluetooth stack, which the bt commands use unless the
// virtual radio is asked for: BlueZ on POSIX, Windows' own on Windows.
// tools/posix and tools/windows each define these.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace quorlink::tools {

// "BlueZ", "Windows Bluetooth".
extern const char* const kSystemBluetoothName;
// The stack's own options as usage text ("[--bus ADDRESS] " or nothing).
extern const char* const kSystemBluetoothOptions;

// Adds the stack's own options to a bt subcommand; bus gets --bus.
void AddSystemBluetoothOptions(CLI::App& sub, std::string& bus);

struct SystemBluetoothChoice {
  bool usable = false;
  std::string reason;  // why it serves, or why it cannot
};

// Main thread: whether the stack can serve the commands (bus: --bus, POSIX).
SystemBluetoothChoice ChooseSystemBluetooth(const std::string& bus);

}  // namespace quorlink::tools
