#include "core/FormStream.h"

#include <any>
#include <cstdint>
#include <exception>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/FormText.h"
#include "core/SysUtils.h"

namespace quorlink {

namespace {

std::map<std::string, TComponentFactory>& Registry() {
  static std::map<std::string, TComponentFactory> registry;
  return registry;
}

// ---- writing ----

std::string SetText(const TTypeInfo& type, std::int64_t bits) {
  std::string out = "[";
  for (std::size_t i = 0; i < type.EnumNames.size() && i < 64; ++i) {
    if ((static_cast<std::uint64_t>(bits) >> i & 1u) == 0) continue;
    if (out.size() > 1) out += ", ";
    out += type.EnumNames[i];
  }
  return out + "]";
}

// Empty when the property has nothing to store.
std::string ValueText(const TComponent& c, const TPropInfo& p) {
  switch (p.Type->Kind) {
    case TTypeKind::tkInteger:
      return p.GetOrd ? IntToStr(p.GetOrd(c)) : std::string{};
    case TTypeKind::tkString:
      return p.GetStr ? FormString(p.GetStr(c)) : std::string{};
    case TTypeKind::tkEnumeration: {
      if (!p.GetOrd) return {};
      std::int64_t ord = p.GetOrd(c);
      if (ord < 0 || static_cast<std::size_t>(ord) >= p.Type->EnumNames.size())
        throw Exception("Property " + p.Name + " of " + c.ClassName() + " has no name for " +
                        IntToStr(ord));
      return p.Type->EnumNames[static_cast<std::size_t>(ord)];
    }
    case TTypeKind::tkSet:
      return p.GetOrd ? SetText(*p.Type, p.GetOrd(c)) : std::string{};
    case TTypeKind::tkMethod: {
      // A handler bound in code has no name to store.
      std::string method = p.GetMethodName ? p.GetMethodName(c) : std::string{};
      if (!method.empty() && !IsIdent(method))
        throw Exception("Method name '" + method + "' of " + p.Name + " cannot be stored");
      return method;
    }
  }
  return {};
}

void WriteObject(const TComponent& c, int depth, std::string& out) {
  std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out += indent + "object ";
  if (!c.Name().empty()) out += c.Name() + ": ";
  out += std::string(c.ClassName()) + "\n";
  for (const TPropInfo& p : c.Properties()) {
    // The name is the header's.
    if (!p.Stored || p.Name == "Name") continue;
    std::string value = ValueText(c, p);
    if (!value.empty()) out += indent + "  " + p.Name + " = " + value + "\n";
  }
  // Without a name an owned component could not be found again.
  for (int i = 0; i < c.ComponentCount(); ++i)
    if (!c.Components(i)->Name().empty()) WriteObject(*c.Components(i), depth + 1, out);
  out += indent + "end\n";
}

// ---- reading ----

// One value to set, checked against its property already.
struct TAssignment {
  TComponent* Component;
  TPropInfo Prop;  // an empty Prop.Name stands for the component's Name
  std::int64_t Ord = 0;
  std::string Str;
  const std::any* Method = nullptr;
  int Line = 0;
};

class TFormReader {
 public:
  explicit TFormReader(const TMethodTable& methods) : methods_(methods) {}
  TFormReader(const TFormReader&) = delete;
  TFormReader& operator=(const TFormReader&) = delete;

  void Read(TComponent& root, const TFormObject& form) {
    try {
      Bind(root, form, true);
    } catch (...) {
      FreeCreated();
      throw;
    }
    std::vector<std::function<void()>> undo;
    undo.reserve(assignments_.size());
    try {
      for (const TAssignment& a : assignments_) {
        undo.push_back(Snapshot(a));
        Apply(a);
      }
    } catch (...) {
      for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
        try {
          (*it)();
        } catch (...) {
          // Putting back the value it had is all that can be tried.
        }
      }
      FreeCreated();
      throw;
    }
  }

 private:
  void Bind(TComponent& c, const TFormObject& form, bool isRoot) {
    if (!SameIdent(form.ClassName, c.ClassName()))
      FormError(form.Line, "component " + DisplayName(c) + " is a " + c.ClassName() + ", not a " +
                               form.ClassName);
    if (!form.Name.empty() && form.Name != c.Name()) {
      TComponent* owner = c.Owner();
      TComponent* other = owner != nullptr ? owner->FindComponent(form.Name) : nullptr;
      if (isRoot && other != nullptr && other != &c)
        FormError(form.Line, "a component named " + form.Name + " already exists");
      assignments_.push_back({&c, TPropInfo{}, 0, form.Name, nullptr, form.Line});
    }
    TPropList props = c.Properties();
    for (const TFormProperty& fp : form.Properties) {
      const TPropInfo* p = nullptr;
      for (const TPropInfo& candidate : props)
        if (SameIdent(candidate.Name, fp.Name)) p = &candidate;
      if (p == nullptr)
        FormError(fp.Line, "property " + fp.Name + " does not exist in " + c.ClassName());
      TAssignment a = Convert(c, *p, fp);
      if (p->Stored) assignments_.push_back(std::move(a));
    }
    if (form.Children.empty()) return;
    // By name without case, built once: a form may name many components.
    std::unordered_map<std::string, TComponent*> owned;
    for (int i = 0; i < c.ComponentCount(); ++i)
      owned.emplace(Folded(c.Components(i)->Name()), c.Components(i));
    std::unordered_set<std::string> seen;
    for (const TFormObject& child : form.Children) {
      std::string key = Folded(child.Name);
      if (!seen.insert(key).second)
        FormError(child.Line, "component " + child.Name + " appears twice");
      auto it = owned.find(key);
      Bind(it != owned.end() ? *it->second : *Create(c, child), child, false);
    }
  }

  TComponent* Create(TComponent& owner, const TFormObject& form) {
    TComponentFactory factory = FindClass(form.ClassName);
    if (!factory) FormError(form.Line, "class " + form.ClassName + " not found");
    TComponent* made = factory(&owner);
    if (made == nullptr) FormError(form.Line, "class " + form.ClassName + " made nothing");
    created_.push_back(made);
    if (made->Owner() != &owner)
      FormError(form.Line, "class " + form.ClassName + " did not take its owner");
    return made;
  }

  TAssignment Convert(TComponent& c, const TPropInfo& p, const TFormProperty& fp) const {
    using K = TFormValue::TKind;
    const TTypeInfo& type = *p.Type;
    const TFormValue& v = fp.Value;
    TAssignment a{&c, p, 0, {}, nullptr, fp.Line};
    // A stored value is put back on failure, so it must be readable too; a
    // value that is not stored is only checked.
    auto expect = [&](K kind, bool settable, const char* what) {
      if (v.Kind != kind)
        FormError(fp.Line, "invalid value for " + p.Name + ": " + what + " expected");
      if (p.Stored && !settable) FormError(fp.Line, "property " + p.Name + " is read-only");
    };
    const bool ordinal = p.SetOrd && p.GetOrd;
    auto element = [&](const std::string& name) -> std::size_t {
      for (std::size_t i = 0; i < type.EnumNames.size(); ++i)
        if (SameIdent(type.EnumNames[i], name)) return i;
      FormError(fp.Line, name + " is not a value of " + type.Name + " (property " + p.Name + ")");
    };
    switch (type.Kind) {
      case TTypeKind::tkInteger: {
        expect(K::Integer, ordinal, "integer");
        // A type that gives no range takes any 64-bit value.
        bool ranged = type.MinValue != 0 || type.MaxValue != 0;
        try {
          a.Ord = StrToInt64(v.Text);
        } catch (const EConvertError&) {
          // The literal's form was checked already: only its size is wrong.
          FormError(fp.Line, v.Text + " is out of range for " + p.Name);
        }
        if (ranged && (a.Ord < type.MinValue || a.Ord > type.MaxValue))
          FormError(fp.Line, v.Text + " is out of range for " + p.Name + " (" +
                                 IntToStr(type.MinValue) + ".." + IntToStr(type.MaxValue) + ")");
        break;
      }
      case TTypeKind::tkString:
        expect(K::String, p.SetStr && p.GetStr, "string");
        a.Str = v.Text;
        break;
      case TTypeKind::tkEnumeration:
        expect(K::Identifier, ordinal, "enumeration value");
        a.Ord = static_cast<std::int64_t>(element(v.Text));
        break;
      case TTypeKind::tkSet:
        expect(K::Set, ordinal, "set");
        for (const std::string& e : v.Elements) {
          std::size_t bit = element(e);
          if (bit >= 63) FormError(fp.Line, "set " + type.Name + " is too large");
          a.Ord |= std::int64_t{1} << bit;
        }
        break;
      case TTypeKind::tkMethod: {
        expect(K::Identifier,
               (p.SetMethodValue && p.GetMethodValue) || (p.SetMethod && p.GetMethodName),
               "method name");
        a.Str = v.Text;
        a.Method = methods_.FindAny(v.Text);
        if (a.Method == nullptr) FormError(fp.Line, "method " + v.Text + " not found");
        if (p.GetMethodValue && a.Method->type() != p.GetMethodValue(c).type())
          FormError(fp.Line,
                    "method " + v.Text + " does not fit " + p.Name + " (" + type.Name + ")");
        break;
      }
    }
    return a;
  }

  // Returns what puts the value of the assignment's property back.
  std::function<void()> Snapshot(const TAssignment& a) const {
    TComponent* c = a.Component;
    const TPropInfo& p = a.Prop;
    if (p.Name.empty()) return [c, old = c->Name()] { c->SetName(old); };
    switch (p.Type->Kind) {
      case TTypeKind::tkString:
        return [c, set = p.SetStr, old = p.GetStr(*c)] { set(*c, old); };
      case TTypeKind::tkMethod:
        if (p.GetMethodValue && p.SetMethodValue)
          return [c, set = p.SetMethodValue, old = p.GetMethodValue(*c)] { set(*c, old); };
        // Without the value itself only a handler bound by name can come back.
        return [c, set = p.SetMethod, old = p.GetMethodName(*c), this] { set(*c, old, methods_); };
      default:
        return [c, set = p.SetOrd, old = p.GetOrd(*c)] { set(*c, old); };
    }
  }

  void Apply(const TAssignment& a) const {
    TComponent& c = *a.Component;
    const TPropInfo& p = a.Prop;
    if (p.Name.empty()) {
      c.SetName(a.Str);
      return;
    }
    switch (p.Type->Kind) {
      case TTypeKind::tkString:
        p.SetStr(c, a.Str);
        break;
      case TTypeKind::tkMethod:
        if (p.SetMethodValue)
          p.SetMethodValue(c, *a.Method);
        else if (!p.SetMethod(c, a.Str, methods_))
          FormError(a.Line, "method " + a.Str + " does not fit " + p.Name);
        break;
      default:
        p.SetOrd(c, a.Ord);
    }
  }

  void FreeCreated() noexcept {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      try {
        Free(*it);
      } catch (...) {
        HandleException(nullptr);
      }
    }
    created_.clear();
  }

  static std::string Folded(std::string name) {
    for (char& ch : name)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    return name;
  }

  static std::string DisplayName(const TComponent& c) {
    return c.Name().empty() ? std::string("(unnamed)") : c.Name();
  }

  const TMethodTable& methods_;
  std::vector<TAssignment> assignments_;
  std::vector<TComponent*> created_;
};

}  // namespace

void RegisterClass(const std::string& className, TComponentFactory factory) {
  Registry().insert_or_assign(className, std::move(factory));
}

void UnregisterClass(const std::string& className) {
  Registry().erase(className);
}

TComponentFactory FindClass(const std::string& className) {
  for (const auto& [name, factory] : Registry())
    if (SameIdent(name, className)) return factory;
  return {};
}

std::string WriteForm(const TComponent& root) {
  std::string out;
  WriteObject(root, 0, out);
  return out;
}

void ReadForm(TComponent& root, std::string_view text, const TMethodTable& methods) {
  TFormObject form = ParseForm(text);
  TFormReader(methods).Read(root, form);
}

}  // namespace quorlink
