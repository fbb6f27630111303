#include "tools/Commands.h"

int main(int argc, char** argv) {
  return quorlink::tools::RunCommandLine(argc, argv);
}
