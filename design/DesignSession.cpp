#include "design/DesignSession.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <sstream>

#include "design/FormFile.h"
#include "quorlink/core/FormStream.h"
#include "quorlink/design/DesignRegistry.h"

namespace quorlink {

namespace {

std::vector<std::string> SplitWords(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// What follows the first n words, trimmed; "..." keeps spaces and allows "".
std::string RestAfter(const std::string& line, std::size_t n) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) return {};
    at = line.find_first_of(" \t", at);
    if (at == std::string::npos) return {};
  }
  const auto first = line.find_first_not_of(" \t", at);
  if (first == std::string::npos) return {};
  std::string rest = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
  if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
    rest = rest.substr(1, rest.size() - 2);
  return rest;
}

std::string Flags(TPropertyAttributes a) {
  std::string out;
  auto add = [&](TPropertyAttribute flag, const char* text) {
    if (!a.Contains(flag)) return;
    out += out.empty() ? "" : ", ";
    out += text;
  };
  add(paReadOnly, "read-only");
  add(paDialog, "ellipsis");
  add(paValueList, "drop-down");
  add(paSortList, "sorted");
  return out.empty() ? out : "(" + out + ")";
}

// Without regard to case, and runs of digits by their number: br300 before
// br1200, as a person reads a list of rates.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      // Leading zeros do not count: compare lengths without them, then digits.
      std::size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
      continue;
    }
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[j]));
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

void Need(const std::vector<std::string>& w, std::size_t count, const char* usage) {
  if (w.size() < count) throw EPropertyError(std::string("usage: ") + usage);
}

const char* const kCommands[] = {"palette", "new",    "components", "select", "show",
                                 "set",     "values", "edit",       "write",  "read",
                                 "delete",  "help",   "quit"};

}  // namespace

TDesignSession::TDesignSession(std::ostream& out, std::ostream& err)
    : out_(out), err_(err), form_(new TForm(nullptr), [](TForm* f) { Free(f); }) {
  form_->SetName("Form1");
  selection_ = {form_.get()};
}

TDesignSession::~TDesignSession() = default;

std::string TDesignSession::HelpText() {
  return "palette                    the palette pages and their components\n"
         "new CLASS [NAME]           put a component on the form and select it\n"
         "components                 the form's components (* selected)\n"
         "select NAME [NAME...]      select components (the form by its name)\n"
         "show [PROPERTY]            the selection's properties as the inspector shows them\n"
         "set PROPERTY VALUE         type a value (\"...\" keeps spaces, \"\" is empty)\n"
         "values PROPERTY            the property's drop-down list\n"
         "edit PROPERTY              press the property's ellipsis button\n"
         "write FILE                 store the form\n"
         "read FILE                  open a stored form in place of this one\n"
         "delete NAME                remove a component\n"
         "help, quit\n";
}

bool TDesignSession::Execute(const std::string& line) {
  const Words w = SplitWords(line);
  if (w.empty() || w[0][0] == '#') return true;
  const std::string cmd = LowerCase(w[0]);
  try {
    if (cmd == "palette") {
      Palette();
    } else if (cmd == "new") {
      New(w);
    } else if (cmd == "components" || cmd == "ls") {
      List();
    } else if (cmd == "select") {
      Select(w);
    } else if (cmd == "show") {
      Show(w);
    } else if (cmd == "set") {
      Need(w, 2, "set PROPERTY VALUE");
      Set(w, RestAfter(line, 2));
    } else if (cmd == "values") {
      Values(w);
    } else if (cmd == "edit") {
      Edit(w);
    } else if (cmd == "write") {
      Write(w);
    } else if (cmd == "read") {
      Read(w);
    } else if (cmd == "delete") {
      Delete(w);
    } else if (cmd == "help") {
      out_ << HelpText();
    } else if (cmd == "quit" || cmd == "exit") {
      finished_ = true;
    } else {
      err_ << "error: unknown command " << w[0] << " (try help)\n";
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    err_ << "error: " << e.what() << "\n";
    return false;
  }
}

void TDesignSession::Palette() {
  for (const TPalettePage& page : DesignRegistry().Pages()) {
    out_ << page.Name << "\n";
    for (const TComponentClass& c : page.Classes) out_ << "  " << c.ClassName() << "\n";
  }
}

TComponent* TDesignSession::Find(const std::string& name) const {
  if (SameText(name, form_->Name())) return form_.get();
  TComponent* c = form_->FindComponent(name);
  if (c == nullptr) throw EPropertyError("No component named " + name);
  return c;
}

void TDesignSession::New(const Words& w) {
  Need(w, 2, "new CLASS [NAME]");
  const TComponentClass* cls = DesignRegistry().FindComponentClass(w[1]);
  if (cls == nullptr) throw EPropertyError("No class " + w[1] + " on the palette");
  std::string name;
  if (w.size() > 2) {
    name = w[2];
  } else {
    // As the designer names them: the class without its T, then a number.
    std::string base = cls->ClassName();
    if (base.size() > 1 && (base[0] == 'T' || base[0] == 't')) base.erase(0, 1);
    for (int n = 1; name.empty(); ++n)
      if (form_->FindComponent(base + std::to_string(n)) == nullptr &&
          !SameText(base + std::to_string(n), form_->Name()))
        name = base + std::to_string(n);
  }
  if (SameText(name, form_->Name())) throw EPropertyError("The form is named " + name);
  TComponent* c = cls->Factory()(form_.get());
  try {
    c->SetName(name);
  } catch (...) {
    Free(c);
    throw;
  }
  selection_ = {c};
  out_ << c->Name() << ": " << c->ClassName() << "\n";
}

void TDesignSession::List() {
  auto line = [&](const TComponent* c) {
    const bool selected = std::find(selection_.begin(), selection_.end(), c) != selection_.end();
    out_ << (selected ? "* " : "  ") << c->Name() << ": " << c->ClassName() << "\n";
  };
  line(form_.get());
  for (int i = 0; i < form_->ComponentCount(); ++i) line(form_->Components(i));
}

void TDesignSession::Select(const Words& w) {
  Need(w, 2, "select NAME [NAME...]");
  std::vector<TComponent*> chosen;
  for (std::size_t i = 1; i < w.size(); ++i) {
    TComponent* c = Find(w[i]);
    if (std::find(chosen.begin(), chosen.end(), c) == chosen.end()) chosen.push_back(c);
  }
  selection_ = std::move(chosen);
}

std::vector<std::string> TDesignSession::CommonProperties() const {
  std::vector<std::string> names;
  for (const TPropInfo& p : selection_.front()->Properties()) {
    try {
      auto editor = MakePropertyEditor(selection_, p.Name);
      if (selection_.size() > 1 && !editor->GetAttributes().Contains(paMultiSelect)) continue;
      names.push_back(p.Name);
    } catch (const EPropertyError&) {
      // Not a property of every selected component.
    }
  }
  return names;
}

void TDesignSession::ShowProperty(const std::string& property) {
  auto editor = MakePropertyEditor(selection_, property);
  const std::string value = editor->AllEqual() ? editor->GetValue() : std::string{};
  std::string text = editor->GetName() + " = " + value;
  const std::string flags = Flags(editor->GetAttributes());
  if (!flags.empty()) text += std::string(text.size() < 44 ? 44 - text.size() : 1, ' ') + flags;
  out_ << text << "\n";
}

void TDesignSession::Show(const Words& w) {
  if (w.size() > 1) {
    for (std::size_t i = 1; i < w.size(); ++i) ShowProperty(w[i]);
    return;
  }
  for (const std::string& p : CommonProperties()) ShowProperty(p);
}

void TDesignSession::Set(const Words& w, const std::string& value) {
  auto editor = MakePropertyEditor(selection_, w[1]);
  if (editor->GetAttributes().Contains(paReadOnly))
    throw EPropertyError(editor->GetName() + " is read-only");
  if (SameText(editor->GetName(), "Name")) CheckNewName(value);
  editor->SetValue(value);
  // A list the setter does not enforce (Service) takes an unknown text as
  // something else: say so rather than store it silently.
  if (editor->GetAttributes().Contains(paValueList) && !SameText(editor->GetValue(), value))
    err_ << "warning: " << value << " is not a value of " << editor->GetName() << " (values "
         << editor->GetName() << " lists them); it reads '" << editor->GetValue() << "'\n";
  ShowProperty(editor->GetName());
}

void TDesignSession::CheckNewName(const std::string& name) const {
  // The form and its components share one name space: select, delete and
  // show find a component by its name, the form included.
  for (const TComponent* c : selection_) {
    if (c == form_.get()) {
      for (int i = 0; i < form_->ComponentCount(); ++i)
        if (SameText(form_->Components(i)->Name(), name))
          throw EPropertyError("A component is named " + name);
    } else if (SameText(form_->Name(), name)) {
      throw EPropertyError("The form is named " + name);
    }
  }
}

std::vector<std::string> TDesignSession::SortedValues(const std::string& property) const {
  auto editor = MakePropertyEditor(selection_, property);
  if (!editor->GetAttributes().Contains(paValueList))
    throw EPropertyError(editor->GetName() + " has no list of values");
  std::vector<std::string> values;
  editor->GetValues([&](const std::string& v) { values.push_back(v); });
  if (editor->GetAttributes().Contains(paSortList))
    std::stable_sort(values.begin(), values.end(), NaturalLess);
  return values;
}

void TDesignSession::Values(const Words& w) {
  Need(w, 2, "values PROPERTY");
  for (const std::string& v : SortedValues(w[1])) out_ << v << "\n";
}

void TDesignSession::Edit(const Words& w) {
  Need(w, 2, "edit PROPERTY");
  auto editor = MakePropertyEditor(selection_, w[1]);
  if (!editor->GetAttributes().Contains(paDialog))
    throw EPropertyError(editor->GetName() + " has no dialog");
  if (BeforeDialog) BeforeDialog(*editor);
  editor->Edit();
  ShowProperty(editor->GetName());
}

void TDesignSession::Write(const Words& w) {
  Need(w, 2, "write FILE");
  SaveFormFile(w[1], WriteForm(*form_));
  out_ << "wrote " << w[1] << "\n";
}

void TDesignSession::Read(const Words& w) {
  Need(w, 2, "read FILE");
  const std::string text = LoadFormFile(w[1]);
  // A form that cannot be read leaves the one being designed as it is.
  std::unique_ptr<TForm, void (*)(TForm*)> fresh(new TForm(nullptr), [](TForm* f) { Free(f); });
  ReadForm(*fresh, text);
  // A component named like its form could be neither selected nor deleted.
  for (int i = 0; i < fresh->ComponentCount(); ++i)
    if (SameText(fresh->Components(i)->Name(), fresh->Name()))
      throw EPropertyError(w[1] + ": the component " + fresh->Components(i)->Name() +
                           " is named like its form");
  form_ = std::move(fresh);
  selection_ = {form_.get()};
  out_ << "read " << w[1] << ": " << form_->Name() << " with " << form_->ComponentCount()
       << " component(s)\n";
}

void TDesignSession::Delete(const Words& w) {
  Need(w, 2, "delete NAME");
  TComponent* c = Find(w[1]);
  if (c == form_.get()) throw EPropertyError("The form itself cannot be deleted");
  selection_.erase(std::remove(selection_.begin(), selection_.end(), c), selection_.end());
  if (selection_.empty()) selection_ = {form_.get()};
  Free(c);
}

std::vector<std::string> TDesignSession::Complete(const std::string& line) const {
  Words w = SplitWords(line);
  const bool fresh = line.empty() || std::isspace(static_cast<unsigned char>(line.back()));
  if (fresh) w.emplace_back();
  const std::string prefix = LowerCase(w.back());
  std::vector<std::string> candidates;
  const std::string cmd = LowerCase(w.front());
  try {
    if (w.size() == 1) {
      for (const char* c : kCommands) candidates.emplace_back(c);
    } else if (cmd == "new" && w.size() == 2) {
      for (const TPalettePage& page : DesignRegistry().Pages())
        for (const TComponentClass& c : page.Classes) candidates.push_back(c.ClassName());
    } else if (cmd == "select" || (cmd == "delete" && w.size() == 2)) {
      candidates.push_back(form_->Name());
      for (int i = 0; i < form_->ComponentCount(); ++i)
        candidates.push_back(form_->Components(i)->Name());
    } else if ((cmd == "set" || cmd == "values" || cmd == "edit" || cmd == "show") &&
               (w.size() == 2 || cmd == "show")) {
      candidates = CommonProperties();
    } else if (cmd == "set" && w.size() == 3) {
      candidates = SortedValues(w[1]);
    }
  } catch (const std::exception&) {
    return {};
  }
  std::vector<std::string> out;
  for (const std::string& c : candidates)
    if (LowerCase(c).compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  return out;
}

}  // namespace quorlink
