#include "platform/posix/Uevent.h"

#include <string_view>

namespace quorlink::platform::posix {

std::optional<Uevent> ParseUevent(const char* data, std::size_t size) {
  const std::string_view message(data, size);
  std::size_t end = message.find('\0');
  const std::string_view header = message.substr(0, end);
  const std::size_t at = header.find('@');
  if (at == std::string_view::npos || at == 0) return std::nullopt;
  Uevent event;
  while (end != std::string_view::npos && end + 1 < message.size()) {
    const std::size_t start = end + 1;
    end = message.find('\0', start);
    const std::string_view field =
        message.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const std::size_t eq = field.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = field.substr(0, eq), value = field.substr(eq + 1);
    if (key == "ACTION")
      event.action = value;
    else if (key == "DEVPATH")
      event.devpath = value;
    else if (key == "SUBSYSTEM")
      event.subsystem = value;
    else if (key == "DEVNAME")
      event.devname = value;
  }
  if (event.action.empty() || event.devpath.empty() || event.subsystem.empty()) return std::nullopt;
  if (header.substr(0, at) != event.action || header.substr(at + 1) != event.devpath)
    return std::nullopt;
  return event;
}

}  // namespace quorlink::platform::posix
