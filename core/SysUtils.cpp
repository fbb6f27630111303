#include "quorlink/core/SysUtils.h"

#include <limits>
#include <map>
#include <mutex>

#include "platform/Kernel.h"

namespace quorlink {

namespace {
struct StringTable {
  std::mutex mutex;
  std::map<int, std::string> texts;
};
StringTable& Table() {
  static StringTable* table = new StringTable;
  return *table;
}
}  // namespace

void RegisterResString(int identifier, std::string_view text) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  t.texts[identifier] = std::string(text);
}

std::string LoadResString(const TResStringRec& rec) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.texts.find(rec.Identifier);
  return it == t.texts.end() ? std::string() : it->second;
}

std::string SysErrorMessage(DWORD code) {
  char buffer[512];
  DWORD n = platform::Kernel().FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

void RaiseLastOSError() {
  RaiseLastOSError(platform::Kernel().GetLastError());
}

void RaiseLastOSError(DWORD code) {
  if (code == ERROR_SUCCESS) throw EOSError(code, "A call to an OS function failed");
  std::string text = SysErrorMessage(code);
  throw EOSError(code, "System Error.  Code: " + std::to_string(code) + ".\n" + text);
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& ch : lower)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + ('a' - 'A'));
  return lower;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + ('a' - 'A')) : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + ('a' - 'A')) : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string IntToStr(std::int64_t value) {
  return std::to_string(value);
}

std::int64_t StrToInt64(std::string_view text) {
  auto fail = [&]() -> std::int64_t {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  };
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return fail();
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return fail();
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) return fail();
    value = value * base + digit;
  }
  constexpr std::uint64_t kMax = std::uint64_t{std::numeric_limits<std::int64_t>::max()};
  if (negative) {
    if (value > kMax + 1) return fail();
    return value == kMax + 1 ? std::numeric_limits<std::int64_t>::min()
                             : -static_cast<std::int64_t>(value);
  }
  if (value > kMax) return fail();
  return static_cast<std::int64_t>(value);
}

int StrToInt(std::string_view text) {
  std::int64_t v = StrToInt64(text);
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return static_cast<int>(v);
}

}  // namespace quorlink
