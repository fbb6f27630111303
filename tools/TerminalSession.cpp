#include "tools/TerminalSession.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>

namespace quorlink::tools {

namespace {
constexpr std::uint8_t kCommandKey = 0x01;  // Ctrl-A
constexpr std::uint8_t kExitKey = 0x18;     // Ctrl-X
constexpr std::uint8_t kHelpKey = 0x08;     // Ctrl-H

struct MapName {
  const char* name;
  MapFlag flag;
};
constexpr MapName kMapNames[] = {{"crlf", kMapCrLf}, {"crcrlf", kMapCrCrLf}, {"igncr", kMapIgnCr},
                                 {"lfcr", kMapLfCr}, {"lfcrlf", kMapLfCrLf}, {"ignlf", kMapIgnLf}};
}  // namespace

const char* const kMapHelp =
    "MAP is a comma-separated list of: crlf (CR becomes LF), crcrlf (CR becomes CR LF),\n"
    "igncr (CR is dropped), lfcr (LF becomes CR), lfcrlf (LF becomes CR LF), ignlf (LF is\n"
    "dropped). --imap maps what arrives, --omap what is sent.";

const char* const kKeyHelp =
    "Keys after Ctrl-A: Ctrl-X exits (what was typed is sent first), Ctrl-H shows this,\n"
    "Ctrl-A sends Ctrl-A. Every other key, Ctrl-C included, goes to the device as typed.\n";
const char* const kPortKeyHelp =
    "Port keys after Ctrl-A: Ctrl-T toggles DTR, Ctrl-G toggles RTS, Ctrl-\\ sends a break,\n"
    "Ctrl-V shows the modem lines and settings, Ctrl-U and Ctrl-D raise and lower the rate.\n";

namespace {
// A key after Ctrl-A as the user would name it: "Ctrl-Q", "q".
std::string KeyName(std::uint8_t k) {
  if (k < 0x20) return std::string("Ctrl-") + static_cast<char>(k + 0x40);
  if (k < 0x7f) return std::string(1, static_cast<char>(k));
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02x", k);
  return hex;
}

bool IsPortKey(std::uint8_t k) {
  for (char c : {kKeyToggleDtr, kKeyToggleRts, kKeyBreak, kKeyLines, kKeyRateUp, kKeyRateDown})
    if (k == static_cast<std::uint8_t>(c)) return true;
  return false;
}

// Enter goes out as CR; an echo shows it as a new line.
std::string EchoLines(const std::string& sent) {
  std::string out;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    out += sent[i];
    if (sent[i] == '\r' && (i + 1 == sent.size() || sent[i + 1] != '\n')) out += '\n';
  }
  return out;
}
}  // namespace

std::optional<unsigned> ParseMap(const std::string& text, std::string* bad) {
  unsigned flags = 0;
  std::stringstream words(text);
  std::string word;
  while (std::getline(words, word, ',')) {
    if (word.empty()) continue;
    bool known = false;
    for (const auto& m : kMapNames)
      if (word == m.name) {
        flags |= m.flag;
        known = true;
      }
    if (!known) {
      if (bad != nullptr) *bad = word;
      return std::nullopt;
    }
  }
  return flags;
}

std::string ApplyMap(unsigned map, const std::uint8_t* data, std::size_t size) {
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\r' && map & (kMapIgnCr | kMapCrLf | kMapCrCrLf)) {
      if (map & kMapIgnCr) continue;
      out += (map & kMapCrCrLf) != 0 ? "\r\n" : "\n";
    } else if (c == '\n' && map & (kMapIgnLf | kMapLfCr | kMapLfCrLf)) {
      if (map & kMapIgnLf) continue;
      out += (map & kMapLfCrLf) != 0 ? "\r\n" : "\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string HexRows(const std::uint8_t* data, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t row = 0; row < size; row += 16) {
    const std::size_t n = std::min<std::size_t>(16, size - row);
    std::string text;
    for (std::size_t i = 0; i < 16; ++i) {
      if (i < n) {
        const std::uint8_t b = data[row + i];
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
        out += ' ';
        text += b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.';
      } else {
        out += "   ";
      }
    }
    out += ' ' + text + '\n';
  }
  return out;
}

TerminalSession::TerminalSession(TerminalOptions options, bool keyboard)
    : options_(std::move(options)), keyboard_(keyboard) {}

TerminalSession::~TerminalSession() {
  if (log_ != nullptr) std::fclose(log_);
}

std::string TerminalSession::OpenLog() {
  if (options_.log.empty()) return {};
  log_ = std::fopen(options_.log.c_str(), "ab");
  if (log_ == nullptr) return "cannot write the log " + options_.log + ": " + std::strerror(errno);
  return {};
}

std::string TerminalSession::HowToLeave() const {
  return keyboard_ ? "Ctrl-A Ctrl-X exits, Ctrl-A Ctrl-H helps"
                   : "end of input or Ctrl-C closes it";
}

std::string TerminalSession::Show(const std::string& bytes) const {
  if (!options_.hex) return bytes;
  return HexRows(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string TerminalSession::FromDevice(const std::uint8_t* data, std::size_t size,
                                        std::string (*now)()) {
  std::string mapped = ApplyMap(options_.imap, data, size);
  if (options_.timestamps && now != nullptr && !mapped.empty()) {
    std::string stamped;
    for (char c : mapped) {
      if (lineStart_) stamped += "[" + now() + "] ";
      stamped += c;
      lineStart_ = c == '\n';
    }
    mapped = std::move(stamped);
  }
  if (log_ != nullptr) {
    // Flushed at once: a log is most wanted when the program is killed.
    std::fwrite(mapped.data(), 1, mapped.size(), log_);
    std::fflush(log_);
  }
  return Show(mapped);
}

TerminalSession::Typed TerminalSession::FromKeys(const std::uint8_t* data, std::size_t size) {
  Typed typed;
  std::string keys;
  for (std::size_t i = 0; i < size && !typed.quit; ++i) {
    const std::uint8_t k = data[i];
    if (!keyboard_) {
      keys += static_cast<char>(k);
    } else if (commandKey_) {
      commandKey_ = false;
      if (k == kExitKey)
        typed.quit = true;
      else if (k == kHelpKey)
        typed.note += std::string(kKeyHelp) + (options_.portKeys ? kPortKeyHelp : "");
      else if (k == kCommandKey)
        keys += static_cast<char>(k);
      else if (options_.portKeys && IsPortKey(k))
        typed.commands += static_cast<char>(k);
      else
        typed.note += "quorlink: Ctrl-A " + KeyName(k) +
                      " is not a command (Ctrl-A Ctrl-H lists the keys); nothing was sent\n";
    } else if (k == kCommandKey) {
      commandKey_ = true;
    } else {
      keys += static_cast<char>(k);
    }
  }
  typed.device =
      ApplyMap(options_.omap, reinterpret_cast<const std::uint8_t*>(keys.data()), keys.size());
  if (options_.echo) typed.screen = options_.hex ? Show(typed.device) : EchoLines(typed.device);
  return typed;
}

}  // namespace quorlink::tools
