// Command lines read with CLI11: each command describes its options on a
// CLI::App, and this parses its arguments the same way for all of them.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "tools/Commands.h"
#include "tools/TerminalSession.h"

namespace quorlink::tools {

// An App whose help starts with `usage` ("usage: quorlink serial PORT ...")
// and ends with `notes` and the exit codes.
void DescribeCommand(CLI::App& app, const std::string& usage, const std::string& notes);

// Parses args (the words after the command's name). nullopt to go on; else
// the exit code: 0 after --help printed the help on standard output, 2 after
// a bad command line was told on standard error with the usage.
std::optional<int> ParseArgs(CLI::App& app, const Args& args);

// A validator whose message (empty: the value is good) is the whole complaint.
CLI::Validator Check(std::function<std::string(const std::string&)> check);

// --echo, --imap, --omap, --hex and --log, shared by the terminals.
void AddTerminalOptions(CLI::App& app, TerminalOptions& options);

// COM bindings the program makes: each --bind COMn=PATH, and those in the
// QUORLINK_BIND environment variable (the same, comma-separated).
void AddBindOption(CLI::App& app, std::vector<std::string>& binds);
// Binds them; empty when all were good, else what is wrong.
std::string ApplyBindings(const std::vector<std::string>& binds);
extern const char* const kBindHelp;

}  // namespace quorlink::tools
