#include <map>
#include <mutex>
#include <string_view>

#include "quorlink/platform/Serial.h"

namespace quorlink::platform {

namespace {
ApiSlot<ISerial> serialSlot;

struct Bindings {
  std::mutex mutex;
  std::map<unsigned, std::string> paths;
};

Bindings& ComBindings() {
  static Bindings* bindings = new Bindings;  // outlives every static user
  return *bindings;
}
}  // namespace

ISerial& Serial() {
  return serialSlot.Get(OsSerial());
}
ISerial* SetSerial(ISerial* api) {
  return serialSlot.Set(api);
}

bool BindComPort(unsigned number, const std::string& devicePath) {
  if (number == 0 || number > 255 || devicePath.empty()) return false;
  auto& b = ComBindings();
  std::lock_guard lock(b.mutex);
  b.paths[number] = devicePath;
  return true;
}

void UnbindComPort(unsigned number) {
  auto& b = ComBindings();
  std::lock_guard lock(b.mutex);
  b.paths.erase(number);
}

std::optional<unsigned> ComPortNumber(const std::string& name) {
  std::string_view s(name);
  if (s.starts_with("\\\\.\\")) s.remove_prefix(4);
  if (s.size() < 4 || s.size() > 6) return std::nullopt;
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  if (upper(s[0]) != 'C' || upper(s[1]) != 'O' || upper(s[2]) != 'M') return std::nullopt;
  unsigned n = 0;
  for (char c : s.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  return n;
}

std::optional<std::string> BoundComPort(const std::string& name) {
  auto n = ComPortNumber(name);
  if (!n) return std::nullopt;
  auto& b = ComBindings();
  std::lock_guard lock(b.mutex);
  auto it = b.paths.find(*n);
  if (it == b.paths.end()) return std::nullopt;
  return it->second;
}

}  // namespace quorlink::platform
