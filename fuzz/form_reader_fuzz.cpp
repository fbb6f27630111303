// Reads arbitrary text as a stored form. A form either fails with the
// library's read error, leaving the component as it was, or loads; what
// loaded writes out and reads back to the same text.
// The corpus holds forms at and just past the nesting limit (about 8 KB):
// run with -max_len=16384 or more so that mutations of them keep reaching it,
// e.g. form_reader_fuzz -max_len=16384 corpus-copy/ fuzz/corpus/form/
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/core/FormStream.h"

using namespace quorlink;

namespace {
bool RegisterOnce() {
  RegisterClass<TQuorComPort>("TQuorComPort");
  RegisterClass<TQuorBluetooth>("TQuorBluetooth");
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = RegisterOnce();
  (void)registered;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TQuorComPort root(nullptr);
  root.SetName("Port1");
  const std::string before = WriteForm(root);
  try {
    ReadForm(root, text);
  } catch (const Exception&) {
    if (WriteForm(root) != before) std::abort();  // a failed read changed something
    return 0;
  }
  const std::string loaded = WriteForm(root);
  TQuorComPort again(nullptr);
  ReadForm(again, loaded);
  if (WriteForm(again) != loaded) std::abort();
  return 0;
}
