#include "quorlink/core/FormText.h"

#include <cstddef>
#include <limits>

#include "quorlink/core/SysUtils.h"

namespace quorlink {

namespace {

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}

// Reads one line of a form, token by token.
class TLineScanner {
 public:
  TLineScanner(std::string_view text, int line) : text_(text), line_(line) {}

  bool AtEnd() {
    SkipSpace();
    return pos_ == text_.size();
  }
  char Peek() {
    SkipSpace();
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  bool Accept(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  void Expect(char c, const char* what) {
    if (!Accept(c)) Fail(what);
  }
  bool Ident(std::string& out) {
    if (!IsIdentStart(Peek())) return false;
    std::size_t start = pos_;
    while (pos_ < text_.size() && IsIdentChar(text_[pos_])) ++pos_;
    out = std::string(text_.substr(start, pos_ - start));
    return true;
  }
  std::string ExpectIdent(const char* what) {
    std::string out;
    if (!Ident(out)) Fail(what);
    return out;
  }
  void ExpectEnd() {
    if (!AtEnd()) Fail("unexpected text '" + Excerpt(text_.substr(pos_)) + "'");
  }

  TFormValue Value() {
    TFormValue v;
    char c = Peek();
    if (c == '\'' || c == '#') {
      v.Kind = TFormValue::TKind::String;
      v.Text = StringLiteral();
    } else if (c == '-' || c == '$' || IsDigit(c)) {
      v.Kind = TFormValue::TKind::Integer;
      v.Text = IntegerLiteral();
    } else if (IsIdentStart(c)) {
      v.Kind = TFormValue::TKind::Identifier;
      Ident(v.Text);
    } else if (Accept('[')) {
      v.Kind = TFormValue::TKind::Set;
      if (!Accept(']')) {
        do {
          v.Elements.push_back(ExpectIdent("set element expected"));
        } while (Accept(','));
        Expect(']', "',' or ']' expected in set");
      }
    } else {
      Fail("value expected");
    }
    return v;
  }

  [[noreturn]] void Fail(const std::string& what) const { FormError(line_, what); }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }

  // Quoted runs and #codes, written without space between them.
  std::string StringLiteral() {
    std::string out;
    while (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) {
      if (text_[pos_++] == '\'') {
        for (;;) {
          if (pos_ == text_.size()) Fail("unterminated string");
          char c = text_[pos_++];
          if (c != '\'') {
            out += c;
          } else if (pos_ < text_.size() && text_[pos_] == '\'') {
            out += '\'';
            ++pos_;
          } else {
            break;
          }
        }
      } else {
        bool hex = pos_ < text_.size() && text_[pos_] == '$';
        if (hex) ++pos_;
        std::size_t start = pos_;
        while (pos_ < text_.size() && (hex ? IsHexDigit(text_[pos_]) : IsDigit(text_[pos_])))
          ++pos_;
        if (pos_ == start) Fail("character code expected after '#'");
        unsigned code = 0;
        for (std::size_t i = start; i < pos_; ++i) {
          char d = text_[i];
          unsigned digit = IsDigit(d) ? static_cast<unsigned>(d - '0')
                                      : static_cast<unsigned>((d | 0x20) - 'a' + 10);
          code = code * (hex ? 16u : 10u) + digit;
          if (code > 255) Fail("character code out of range (0..255)");
        }
        out += static_cast<char>(code);
      }
    }
    return out;
  }

  std::string IntegerLiteral() {
    std::size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    bool hex = pos_ < text_.size() && text_[pos_] == '$';
    if (hex) ++pos_;
    std::size_t digits = pos_;
    while (pos_ < text_.size() && (hex ? IsHexDigit(text_[pos_]) : IsDigit(text_[pos_]))) ++pos_;
    if (pos_ == digits || (pos_ < text_.size() && IsIdentChar(text_[pos_])))
      Fail("malformed number");
    return std::string(text_.substr(start, pos_ - start));
  }

  std::string_view text_;
  int line_;
  std::size_t pos_ = 0;
};

}  // namespace

void FormError(int line, const std::string& what) {
  throw EReadError("Line " + std::to_string(line) + ": " + what);
}

bool IsIdent(std::string_view text) {
  if (text.empty() || !IsIdentStart(text[0])) return false;
  for (char c : text)
    if (!IsIdentChar(c)) return false;
  return true;
}

void ParseForm(std::string_view text, TFormSink& sink, int maxDepth) {
  std::vector<int> open;  // the lines of the objects whose "end" is still to come
  bool done = false;
  int line = 0;
  while (!text.empty() || line == 0) {
    if (line == std::numeric_limits<int>::max()) FormError(line, "too many lines");
    ++line;
    std::size_t eol = text.find('\n');
    std::string_view raw = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

    TLineScanner scan(raw, line);
    if (scan.AtEnd()) continue;
    if (done) scan.Fail("text after the end of the form");
    std::string word = scan.ExpectIdent("property name, 'object' or 'end' expected");
    if (SameText(word, "object")) {
      std::string name, className = scan.ExpectIdent("component name expected");
      if (scan.Accept(':')) {
        name = std::move(className);
        className = scan.ExpectIdent("class name expected");
      }
      scan.ExpectEnd();
      if (!open.empty() && name.empty()) scan.Fail("an owned component needs a name");
      if (open.size() >= static_cast<std::size_t>(maxDepth))
        scan.Fail("objects nested more than " + std::to_string(maxDepth) + " levels deep");
      open.push_back(line);
      sink.BeginObject(line, name, className);
    } else if (SameText(word, "end")) {
      scan.ExpectEnd();
      if (open.empty()) scan.Fail("'end' without 'object'");
      open.pop_back();
      sink.EndObject();
      done = open.empty();
    } else {
      if (open.empty()) scan.Fail("'object' expected");
      scan.Expect('=', "'=' expected after the property name");
      TFormProperty prop{line, std::move(word), scan.Value()};
      scan.ExpectEnd();
      sink.Property(prop);
    }
  }
  if (!open.empty()) FormError(open.back(), "'end' missing for this object");
  if (!done) FormError(1, "'object' expected");
}

std::string Excerpt(std::string_view text) {
  constexpr std::size_t kShown = 40;
  if (text.size() <= kShown) return std::string(text);
  return std::string(text.substr(0, kShown)) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string FormString(std::string_view value) {
  std::string out;
  bool quoted = false;
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    bool printable = byte >= 0x20 && byte < 0x7F;
    if (printable != quoted) {
      out += '\'';
      quoted = printable;
    }
    if (!printable)
      out += '#' + std::to_string(byte);
    else if (c == '\'')
      out += "''";
    else
      out += c;
  }
  if (quoted) out += '\'';
  if (out.empty()) out = "''";
  return out;
}

}  // namespace quorlink
