#include "tools/ServiceNames.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "tools/Nearest.h"

namespace quorlink::tools {

namespace {

// Letters and digits only, lower case: "Serial Port" and "serial-port" match.
std::string Key(const std::string& s) {
  std::string out;
  for (unsigned char c : s)
    if (std::isalnum(c)) out += static_cast<char>(std::tolower(c));
  return out;
}

std::string Stem(const std::string& tableName) {
  for (const char* suffix : {"ServiceClassID", "ServiceClass"}) {
    const std::string s = suffix;
    if (tableName.size() > s.size() && tableName.ends_with(s))
      return tableName.substr(0, tableName.size() - s.size());
  }
  return tableName;
}

// The 16-bit number a UUID text names within the base UUID; -1 when none.
long UuidNumber(const std::string& text) {
  std::string t = text;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  for (unsigned char c : t)
    if (!std::isxdigit(c) && c != '-') return -1;
  if (t.size() == 4 || t.size() == 8) {
    if (t.find('-') != std::string::npos) return -1;
    const long n = std::stol(t, nullptr, 16);
    return n <= 0xFFFF ? n : -1;
  }
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return -1;
  std::string tail = Key(t.substr(8));
  if (tail != "00001000800000805f9b34fb" || t.substr(0, 4) != "0000") return -1;
  return std::stol(t.substr(4, 4), nullptr, 16);
}

}  // namespace

std::string ServiceWords(const std::string& tableName) {
  const std::string stem = Stem(tableName);
  std::string out;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    const bool upper = std::isupper(static_cast<unsigned char>(stem[i])) != 0;
    // A capital starts a word, except inside an acronym ("OBEX", "PPP").
    const bool nextLower =
        i + 1 < stem.size() && std::islower(static_cast<unsigned char>(stem[i + 1])) != 0;
    const bool prevLower = i > 0 && std::islower(static_cast<unsigned char>(stem[i - 1])) != 0;
    if (i > 0 && upper && (prevLower || nextLower)) out += ' ';
    out += stem[i];
  }
  return out;
}

ServiceChoice ChooseService(const std::string& text) {
  const std::string key = Key(text);
  const long number = UuidNumber(text);
  std::vector<std::string> names;
  for (const auto& row : QuorServiceGUIDsName) {
    const std::string name = row.Name;
    const bool byUuid = number >= 0 && static_cast<long>(row.GUID.Data1) == number;
    if (byUuid || key == Key(name) || key == Key(Stem(name))) return {name, ServiceWords(name), {}};
    names.push_back(ServiceWords(name));
  }
  std::string error =
      "takes a service class name such as \"Serial Port\" or its UUID such as "
      "0x1101, not '" +
      text + "'";
  if (number >= 0) error += " (no service class of the table has that UUID)";
  if (const std::string closest = Nearest(text, names); !closest.empty())
    error += "; did you mean \"" + closest + "\"?";
  return {{}, {}, error};
}

}  // namespace quorlink::tools
