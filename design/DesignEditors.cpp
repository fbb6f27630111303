#include "quorlink/design/DesignEditors.h"

#include <cctype>
#include <exception>

namespace quorlink {

namespace {

std::string Trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The ordinal of a value name of an enumeration, or -1.
std::int64_t EnumValue(const TTypeInfo& type, const std::string& name) {
  for (std::size_t i = 0; i < type.EnumNames.size(); ++i)
    if (SameText(type.EnumNames[i], name)) return static_cast<std::int64_t>(i);
  return -1;
}

// The typed text and every value the type has, so the user can pick one.
[[noreturn]] void InvalidValue(const TTypeInfo& type, const std::string& typed) {
  std::string names;
  for (const std::string& n : type.EnumNames) names += (names.empty() ? "" : ", ") + n;
  throw EPropertyError("Invalid property value " + typed + " (one of " + names + ")");
}

}  // namespace

void TPropertyEditor::Initialize(const std::vector<TComponent*>& components,
                                 const std::string& propName) {
  std::vector<Entry> entries;
  for (TComponent* c : components) {
    TPropList props = c->Properties();
    const TPropInfo* found = nullptr;
    for (const TPropInfo& p : props)
      if (SameText(p.Name, propName)) found = &p;
    if (found == nullptr)
      throw EPropertyError(std::string(c->ClassName()) + " has no property " + propName);
    entries.push_back({c, *found});
  }
  if (entries.empty()) throw EPropertyError("No component selected");
  entries_ = std::move(entries);
}

const TPropertyEditor::Entry& TPropertyEditor::At(int index) const {
  if (index < 0 || index >= PropCount())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return entries_[static_cast<std::size_t>(index)];
}

TComponent* TPropertyEditor::GetComponent(int index) const {
  return At(index).Component;
}
const std::string& TPropertyEditor::GetName() const {
  return At(0).Info.Name;
}
const TTypeInfo& TPropertyEditor::GetPropType() const {
  return *At(0).Info.Type;
}

std::int64_t TPropertyEditor::GetOrdValueAt(int index) const {
  const Entry& e = At(index);
  return e.Info.GetOrd ? e.Info.GetOrd(*e.Component) : 0;
}

std::string TPropertyEditor::GetStrValueAt(int index) const {
  const Entry& e = At(index);
  return e.Info.GetStr ? e.Info.GetStr(*e.Component) : std::string{};
}

template <class T, class Get, class Set>
void TPropertyEditor::SetAll(const T& value, Get get, Set set) {
  std::vector<T> old;
  std::size_t done = 0;
  try {
    for (; done < entries_.size(); ++done) {
      old.push_back(get(entries_[done]));
      set(entries_[done], value);
    }
  } catch (...) {
    // One value for the whole selection or none: undo the ones already set.
    for (std::size_t i = 0; i < done; ++i) {
      try {
        set(entries_[i], old[i]);
      } catch (...) {
      }
    }
    throw;
  }
}

void TPropertyEditor::SetOrdValue(std::int64_t value) {
  SetAll(
      value, [](const Entry& e) { return e.Info.GetOrd ? e.Info.GetOrd(*e.Component) : 0; },
      [](const Entry& e, std::int64_t v) {
        if (e.Info.SetOrd) e.Info.SetOrd(*e.Component, v);
      });
}

void TPropertyEditor::SetStrValue(const std::string& value) {
  SetAll(
      value,
      [](const Entry& e) { return e.Info.GetStr ? e.Info.GetStr(*e.Component) : std::string{}; },
      [](const Entry& e, const std::string& v) {
        if (e.Info.SetStr) e.Info.SetStr(*e.Component, v);
      });
}

bool TOrdinalProperty::AllEqual() const {
  for (int i = 1; i < PropCount(); ++i)
    if (GetOrdValueAt(i) != GetOrdValue()) return false;
  return true;
}

std::string TIntegerProperty::GetValue() const {
  return IntToStr(GetOrdValue());
}

void TIntegerProperty::SetValue(const std::string& value) {
  const std::int64_t v = StrToInt64(Trimmed(value));
  const TTypeInfo& type = GetPropType();
  if (v < type.MinValue || v > type.MaxValue)
    throw EPropertyError("Value must be between " + IntToStr(type.MinValue) + " and " +
                         IntToStr(type.MaxValue) + ".");
  SetOrdValue(v);
}

std::string TEnumProperty::GetValue() const {
  const std::int64_t ord = GetOrdValue();
  const auto& names = GetPropType().EnumNames;
  if (ord < 0 || static_cast<std::size_t>(ord) >= names.size()) return IntToStr(ord);
  return names[static_cast<std::size_t>(ord)];
}

void TEnumProperty::GetValues(const TGetStrProc& proc) const {
  for (const std::string& name : GetPropType().EnumNames) proc(name);
}

void TEnumProperty::SetValue(const std::string& value) {
  const std::int64_t ord = EnumValue(GetPropType(), Trimmed(value));
  if (ord < 0) InvalidValue(GetPropType(), Trimmed(value));
  SetOrdValue(ord);
}

std::string TSetProperty::GetValue() const {
  const auto bits = static_cast<std::uint64_t>(GetOrdValue());
  const auto& names = GetPropType().EnumNames;
  std::string out = "[";
  for (std::size_t i = 0; i < names.size() && i < 64; ++i) {
    if ((bits >> i & 1u) == 0) continue;
    if (out.size() > 1) out += ",";
    out += names[i];
  }
  return out + "]";
}

void TSetProperty::SetValue(const std::string& value) {
  std::string text = Trimmed(value);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']')
    throw EPropertyError("Invalid property value");
  text = text.substr(1, text.size() - 2);
  std::int64_t bits = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto comma = text.find(',', start);
    const std::string name =
        Trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!name.empty()) {
      const std::int64_t ord = EnumValue(GetPropType(), name);
      if (ord < 0 || ord >= 64) InvalidValue(GetPropType(), name);
      bits |= std::int64_t{1} << ord;
    } else if (comma != std::string::npos) {
      throw EPropertyError("Invalid property value");
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  SetOrdValue(bits);
}

bool TStringProperty::AllEqual() const {
  for (int i = 1; i < PropCount(); ++i)
    if (GetStrValueAt(i) != GetStrValue()) return false;
  return true;
}

bool TMethodProperty::AllEqual() const {
  for (int i = 1; i < PropCount(); ++i)
    if (GetValueAt(i) != GetValueAt(0)) return false;
  return true;
}

std::string TMethodProperty::GetValue() const {
  return GetValueAt(0);
}

std::string TMethodProperty::GetValueAt(int index) const {
  const TPropInfo& p = PropInfoAt(index);
  return p.GetMethodName ? p.GetMethodName(*GetComponent(index)) : std::string{};
}

std::string AttributesText(TPropertyAttributes attributes) {
  static const char* const kNames[] = {"paValueList",   "paSubProperties", "paDialog",
                                       "paMultiSelect", "paAutoUpdate",    "paSortList",
                                       "paReadOnly",    "paRevertable"};
  std::string out;
  for (unsigned i = 0; i < 8; ++i) {
    if (!attributes.Contains(static_cast<TPropertyAttribute>(i))) continue;
    if (!out.empty()) out += ",";
    out += kNames[i];
  }
  return "[" + out + "]";
}

}  // namespace quorlink
