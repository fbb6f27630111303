// The text layout of stored forms: nested "object Name: TClass" blocks of
// "Property = value" lines closed by "end". Syntax only; what the values mean
// is decided against a component's published properties (FormStream).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorlink {

struct TFormValue {
  enum class TKind { Integer, String, Identifier, Set };
  TKind Kind = TKind::Identifier;
  // The integer literal as written, the decoded string, or the identifier.
  std::string Text;
  std::vector<std::string> Elements;  // sets
};

struct TFormProperty {
  int Line = 0;
  std::string Name;
  TFormValue Value;
};

struct TFormObject {
  int Line = 0;
  std::string Name;  // empty for an unnamed root
  std::string ClassName;
  std::vector<TFormProperty> Properties;
  std::vector<TFormObject> Children;
};

// Raises EReadError "Line N: ..." for the first line that breaks the layout.
TFormObject ParseForm(std::string_view text);

// A string literal that reads back to exactly these bytes: quoted printable
// ASCII with '' for a quote, every other byte as #code.
std::string FormString(std::string_view value);

[[noreturn]] void FormError(int line, const std::string& what);

// Identifiers compare without regard to case, as the host's names do.
bool SameIdent(std::string_view a, std::string_view b);
bool IsIdent(std::string_view text);

}  // namespace quorlink
