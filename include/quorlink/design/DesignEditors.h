/// @file
/// The host's property-editor family: what the designer's inspector asks of a
/// published property over the selected components. Editors are made per
/// inspection by the registry (DesignRegistry.h). Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"
#include "quorlink/core/SysUtils.h"
#include "quorlink/core/TypInfo.h"

namespace quorlink {

/// The inspector's flags for a property, with the host's bit values.
enum TPropertyAttribute : std::uint8_t {
  paValueList = 0,      ///< 0x01: a drop-down list of values
  paSubProperties = 1,  ///< 0x02
  paDialog = 2,         ///< 0x04: an ellipsis button that calls Edit
  paMultiSelect = 3,    ///< 0x08: shown when several components are selected
  paAutoUpdate = 4,     ///< 0x10
  paSortList = 5,       ///< 0x20: the drop-down list is sorted
  paReadOnly = 6,       ///< 0x40: the value cannot be typed
  paRevertable = 7,     ///< 0x80
};
using TPropertyAttributes = TSet<TPropertyAttribute>;

inline TPropertyAttributes operator+(TPropertyAttributes a, TPropertyAttributes b) {
  return TPropertyAttributes::FromBits(static_cast<std::uint8_t>(a.Bits() | b.Bits()));
}

/// Raised by an editor for a value it cannot take.
class QUORLINK_API EPropertyError : public Exception {
  using Exception::Exception;
};

using TGetStrProc = std::function<void(const std::string&)>;

class QUORLINK_API TPropertyEditor {
 public:
  static constexpr const char* kClassName = "TPropertyEditor";
  virtual ~TPropertyEditor() = default;
  virtual const char* ClassName() const { return kClassName; }

  /// Binds the editor to one published property of each selected component;
  /// raises EPropertyError when a component has no such property.
  void Initialize(const std::vector<TComponent*>& components, const std::string& propName);

  int PropCount() const { return static_cast<int>(entries_.size()); }
  TComponent* GetComponent(int index) const;
  const std::string& GetName() const;
  const TTypeInfo& GetPropType() const;

  /// The root editor: shown for a multiple selection, revertable.
  virtual TPropertyAttributes GetAttributes() const { return {paMultiSelect, paRevertable}; }
  /// True when the inspector may show one value for the whole selection.
  virtual bool AllEqual() const { return PropCount() == 1; }
  virtual std::string GetValue() const { return "(unknown)"; }
  virtual void SetValue(const std::string&) {}
  virtual void GetValues(const TGetStrProc&) const {}
  /// The ellipsis button (paDialog).
  virtual void Edit() {}

  /// Of the first component (or the one at index).
  std::int64_t GetOrdValue() const { return GetOrdValueAt(0); }
  std::int64_t GetOrdValueAt(int index) const;
  std::string GetStrValue() const { return GetStrValueAt(0); }
  std::string GetStrValueAt(int index) const;
  /// On every selected component; when a setter raises, those already set get
  /// their old value back before the exception passes on.
  void SetOrdValue(std::int64_t value);
  void SetStrValue(const std::string& value);

 protected:
  const TPropInfo& PropInfoAt(int index) const { return At(index).Info; }

 private:
  struct Entry {
    TComponent* Component;
    TPropInfo Info;
  };
  const Entry& At(int index) const;
  template <class T, class Get, class Set>
  void SetAll(const T& value, Get get, Set set);

  std::vector<Entry> entries_;
};

class QUORLINK_API TOrdinalProperty : public TPropertyEditor {
 public:
  static constexpr const char* kClassName = "TOrdinalProperty";
  const char* ClassName() const override { return kClassName; }
  bool AllEqual() const override;
};

class QUORLINK_API TIntegerProperty : public TOrdinalProperty {
 public:
  static constexpr const char* kClassName = "TIntegerProperty";
  const char* ClassName() const override { return kClassName; }
  std::string GetValue() const override;
  /// Decimal or "$" hexadecimal, within the type's range.
  void SetValue(const std::string& value) override;
};

class QUORLINK_API TEnumProperty : public TOrdinalProperty {
 public:
  static constexpr const char* kClassName = "TEnumProperty";
  const char* ClassName() const override { return kClassName; }
  TPropertyAttributes GetAttributes() const override {
    return {paMultiSelect, paValueList, paSortList, paRevertable};
  }
  std::string GetValue() const override;
  void GetValues(const TGetStrProc& proc) const override;
  /// A value name, without regard to case.
  void SetValue(const std::string& value) override;
};

class QUORLINK_API TSetProperty : public TOrdinalProperty {
 public:
  static constexpr const char* kClassName = "TSetProperty";
  const char* ClassName() const override { return kClassName; }
  /// "[a, b]"
  std::string GetValue() const override;
  void SetValue(const std::string& value) override;
};

class QUORLINK_API TStringProperty : public TPropertyEditor {
 public:
  static constexpr const char* kClassName = "TStringProperty";
  const char* ClassName() const override { return kClassName; }
  bool AllEqual() const override;
  std::string GetValue() const override { return GetStrValue(); }
  void SetValue(const std::string& value) override { SetStrValue(value); }
};

/// Events: the bound method's name. There is no code behind a form here to
/// bind a new method to, so the value cannot be typed.
class QUORLINK_API TMethodProperty : public TPropertyEditor {
 public:
  static constexpr const char* kClassName = "TMethodProperty";
  const char* ClassName() const override { return kClassName; }
  TPropertyAttributes GetAttributes() const override {
    return {paMultiSelect, paReadOnly, paRevertable};
  }
  bool AllEqual() const override;
  std::string GetValue() const override;

 private:
  std::string GetValueAt(int index) const;
};

/// The attribute names the inspector prints, in bit order.
QUORLINK_API std::string AttributesText(TPropertyAttributes attributes);

}  // namespace quorlink
