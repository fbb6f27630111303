// The quorlink program's commands. Each command file registers itself, so a
// new command needs no edit elsewhere.
#pragma once

#include <string>
#include <vector>

namespace quorlink::tools {

using Args = std::vector<std::string>;
using CommandFn = int (*)(const Args& args);
using DemoFn = int (*)();

struct CommandRegistrar {
  CommandRegistrar(const char* name, const char* usage, const char* summary, CommandFn fn);
};

// A section of `quorlink demo`; sections run in order.
struct DemoRegistrar {
  DemoRegistrar(int order, const char* title, DemoFn fn);
};

int RunCommandLine(int argc, char** argv);

// Prints a failure as "quorlink: message" on standard error and returns
// code (1 unless given; see Failures.h).
int Fail(const std::string& message, int code = 1);

}  // namespace quorlink::tools
