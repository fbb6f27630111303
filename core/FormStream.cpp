#include "quorlink/core/FormStream.h"

#include <any>
#include <cstdint>
#include <exception>
#include <map>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "quorlink/core/FormText.h"
#include "quorlink/core/SysUtils.h"

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
    if (!p.Stored || p.Name == "Name" || (p.IsStored && !p.IsStored(c))) continue;
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
  const TPropInfo* Prop;  // null for the component's Name
  std::int64_t Ord = 0;
  std::string Str;
  const std::any* Method = nullptr;
  int Line = 0;
};

// What a property held before an assignment, to put back on failure.
struct TOldValue {
  std::int64_t Ord = 0;
  std::string Str;
  std::any Method;
};

// Binds the form's objects to components as they come and checks every
// value; nothing is set until the whole form has been read.
class TFormReader final : public TFormSink {
 public:
  TFormReader(TComponent& root, const TMethodTable& methods) : root_(root), methods_(methods) {}
  TFormReader(const TFormReader&) = delete;
  TFormReader& operator=(const TFormReader&) = delete;

  void Read(std::string_view text) {
    try {
      ParseForm(text, *this, MaxFormDepth);
    } catch (...) {
      FreeCreated();
      throw;
    }
    std::vector<TOldValue> old;
    old.reserve(assignments_.size());
    try {
      for (const TAssignment& a : assignments_) {
        old.push_back(Snapshot(a));
        Apply(a);
      }
    } catch (...) {
      for (std::size_t i = old.size(); i-- > 0;) {
        try {
          Restore(assignments_[i], old[i]);
        } catch (...) {
          // Putting back the value it had is all that can be tried.
        }
      }
      FreeCreated();
      throw;
    }
  }

  void BeginObject(int line, std::string_view name, std::string_view className) override {
    TComponent* c = &root_;
    if (!open_.empty()) {
      TFrame& owner = open_.back();
      if (!owner.Seen.insert(LowerCase(name)).second)
        FormError(line, "component " + Excerpt(name) + " appears twice");
      // Components this read makes have no name yet, so only those that
      // were there before are found.
      c = owner.Component->FindComponent(std::string(name));
      if (c == nullptr) c = Create(*owner.Component, line, className);
    }
    if (!SameText(className, c->ClassName()))
      FormError(line, "component " + DisplayName(*c) + " is a " + c->ClassName() + ", not a " +
                          Excerpt(className));
    if (!name.empty() && name != c->Name()) {
      TComponent* owner = c->Owner();
      TComponent* other = owner != nullptr ? owner->FindComponent(std::string(name)) : nullptr;
      if (open_.empty() && other != nullptr && other != c)
        FormError(line, "a component named " + Excerpt(name) + " already exists");
      assignments_.push_back({c, nullptr, 0, std::string(name), nullptr, line});
    }
    open_.push_back({c, &PropertiesOf(*c), {}});
  }

  void Property(TFormProperty& fp) override {
    TFrame& frame = open_.back();
    const TPropInfo* p = nullptr;
    for (const TPropInfo& candidate : *frame.Props)
      if (SameText(candidate.Name, fp.Name)) p = &candidate;
    if (p == nullptr)
      FormError(fp.Line, "property " + Excerpt(fp.Name) + " does not exist in " +
                             frame.Component->ClassName());
    TAssignment a = Convert(*frame.Component, *p, fp);
    if (p->Stored) assignments_.push_back(std::move(a));
  }

  void EndObject() override { open_.pop_back(); }

 private:
  struct TFrame {
    TComponent* Component;
    const TPropList* Props;
    std::unordered_set<std::string> Seen;  // folded names of the owned objects read
  };

  // Published properties belong to the class, so one list per class serves
  // every component of it, and an assignment refers to its entry.
  const TPropList& PropertiesOf(const TComponent& c) {
    auto [it, added] = props_.try_emplace(std::type_index(typeid(c)));
    if (added) {
      try {
        it->second = c.Properties();
      } catch (...) {
        props_.erase(it);
        throw;
      }
    }
    return it->second;
  }

  TComponent* Create(TComponent& owner, int line, std::string_view className) {
    TComponentFactory factory = FindClass(std::string(className));
    if (!factory) FormError(line, "class " + Excerpt(className) + " not found");
    TComponent* made = factory(&owner);
    if (made == nullptr) FormError(line, "class " + Excerpt(className) + " made nothing");
    created_.push_back(made);
    if (made->Owner() != &owner)
      FormError(line, "class " + Excerpt(className) + " did not take its owner");
    return made;
  }

  TAssignment Convert(TComponent& c, const TPropInfo& p, TFormProperty& fp) const {
    using K = TFormValue::TKind;
    const TTypeInfo& type = *p.Type;
    TFormValue& v = fp.Value;
    TAssignment a{&c, &p, 0, {}, nullptr, fp.Line};
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
        if (SameText(type.EnumNames[i], name)) return i;
      FormError(fp.Line,
                Excerpt(name) + " is not a value of " + type.Name + " (property " + p.Name + ")");
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
          FormError(fp.Line, Excerpt(v.Text) + " is out of range for " + p.Name);
        }
        if (ranged && (a.Ord < type.MinValue || a.Ord > type.MaxValue))
          FormError(fp.Line, Excerpt(v.Text) + " is out of range for " + p.Name + " (" +
                                 IntToStr(type.MinValue) + ".." + IntToStr(type.MaxValue) + ")");
        break;
      }
      case TTypeKind::tkString:
        expect(K::String, p.SetStr && p.GetStr, "string");
        a.Str = std::move(v.Text);
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
        a.Method = methods_.FindAny(v.Text);
        if (a.Method == nullptr) FormError(fp.Line, "method " + Excerpt(v.Text) + " not found");
        if (p.GetMethodValue && a.Method->type() != p.GetMethodValue(c).type())
          FormError(fp.Line, "method " + Excerpt(v.Text) + " does not fit " + p.Name + " (" +
                                 type.Name + ")");
        a.Str = std::move(v.Text);
        break;
      }
    }
    return a;
  }

  // What the assignment's property holds now.
  static TOldValue Snapshot(const TAssignment& a) {
    const TComponent& c = *a.Component;
    TOldValue old;
    if (a.Prop == nullptr) {
      old.Str = c.Name();
      return old;
    }
    const TPropInfo& p = *a.Prop;
    switch (p.Type->Kind) {
      case TTypeKind::tkString:
        old.Str = p.GetStr(c);
        break;
      case TTypeKind::tkMethod:
        // Without the value itself only a handler bound by name can come back.
        if (p.GetMethodValue && p.SetMethodValue)
          old.Method = p.GetMethodValue(c);
        else
          old.Str = p.GetMethodName(c);
        break;
      default:
        old.Ord = p.GetOrd(c);
    }
    return old;
  }

  void Restore(const TAssignment& a, const TOldValue& old) const {
    TComponent& c = *a.Component;
    if (a.Prop == nullptr) {
      c.SetName(old.Str);
      return;
    }
    const TPropInfo& p = *a.Prop;
    switch (p.Type->Kind) {
      case TTypeKind::tkString:
        p.SetStr(c, old.Str);
        break;
      case TTypeKind::tkMethod:
        if (p.GetMethodValue && p.SetMethodValue)
          p.SetMethodValue(c, old.Method);
        else
          p.SetMethod(c, old.Str, methods_);
        break;
      default:
        p.SetOrd(c, old.Ord);
    }
  }

  void Apply(const TAssignment& a) const {
    TComponent& c = *a.Component;
    if (a.Prop == nullptr) {
      c.SetName(a.Str);
      return;
    }
    const TPropInfo& p = *a.Prop;
    switch (p.Type->Kind) {
      case TTypeKind::tkString:
        p.SetStr(c, a.Str);
        break;
      case TTypeKind::tkMethod:
        if (p.SetMethodValue)
          p.SetMethodValue(c, *a.Method);
        else if (!p.SetMethod(c, a.Str, methods_))
          FormError(a.Line, "method " + Excerpt(a.Str) + " does not fit " + p.Name);
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

  static std::string DisplayName(const TComponent& c) {
    return c.Name().empty() ? std::string("(unnamed)") : c.Name();
  }

  TComponent& root_;
  const TMethodTable& methods_;
  std::vector<TFrame> open_;  // the objects being read, outermost first
  std::unordered_map<std::type_index, TPropList> props_;
  std::vector<TAssignment> assignments_;
  std::vector<TComponent*> created_;
};

}  // namespace

void RegisterComponentClass(const std::string& className, TComponentFactory factory) {
  Registry().insert_or_assign(className, std::move(factory));
}

void UnregisterComponentClass(const std::string& className) {
  Registry().erase(className);
}

TComponentFactory FindClass(const std::string& className) {
  for (const auto& [name, factory] : Registry())
    if (SameText(name, className)) return factory;
  return {};
}

std::string WriteForm(const TComponent& root) {
  std::string out;
  WriteObject(root, 0, out);
  return out;
}

void ReadForm(TComponent& root, std::string_view text, const TMethodTable& methods) {
  TFormReader(root, methods).Read(text);
}

}  // namespace quorlink
