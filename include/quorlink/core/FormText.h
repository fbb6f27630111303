/// @file
/// The text layout of stored forms: nested "object Name: TClass" blocks of
/// "Property = value" lines closed by "end". Syntax only; what the values mean
/// is decided against a component's published properties (FormStream).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "quorlink/core/Export.h"

namespace quorlink {

struct TFormValue {
  enum class TKind { Integer, String, Identifier, Set };
  TKind Kind = TKind::Identifier;
  /// The integer literal as written, the decoded string, or the identifier.
  std::string Text;
  std::vector<std::string> Elements;  ///< sets
};

struct TFormProperty {
  int Line = 0;
  std::string Name;
  TFormValue Value;
};

/// Takes a form's parts in the order they are written. The parser keeps
/// nothing of a line it has handed on, only the line numbers of the objects
/// still open, so no tree of the whole form is ever built.
class QUORLINK_API TFormSink {
 public:
  /// name is empty for an unnamed root; only the root may be unnamed.
  virtual void BeginObject(int line, std::string_view name, std::string_view className) = 0;
  /// The value may be moved out.
  virtual void Property(TFormProperty& property) = 0;
  virtual void EndObject() = 0;

 protected:
  ~TFormSink() = default;
};

/// Hands the form to the sink line by line. Raises EReadError "Line N: ..."
/// for the first line that breaks the layout, or that opens an object more
/// than maxDepth levels deep (the root is level 1); whatever the sink raises
/// passes on.
QUORLINK_API void ParseForm(std::string_view text, TFormSink& sink, int maxDepth);

/// The start of a text, short enough to quote in a message whatever its size.
QUORLINK_API std::string Excerpt(std::string_view text);

/// A string literal that reads back to exactly these bytes: quoted printable
/// ASCII with '' for a quote, every other byte as #code.
QUORLINK_API std::string FormString(std::string_view value);

[[noreturn]] QUORLINK_API void FormError(int line, const std::string& what);

QUORLINK_API bool IsIdent(std::string_view text);

}  // namespace quorlink
