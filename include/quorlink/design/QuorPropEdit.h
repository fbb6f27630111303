/// @file
/// The library's property editors: the constant properties shown read-only,
/// the service classes as a sorted drop-down, the About box and the device
/// picker behind ellipsis buttons. Designer's main thread only.
#pragma once

#include "quorlink/core/Export.h"
#include "quorlink/design/DesignEditors.h"

namespace quorlink {

class QUORLINK_API TQuorVersionEdit : public TIntegerProperty {
 public:
  static constexpr const char* kClassName = "TQuorVersionEdit";
  const char* ClassName() const override { return kClassName; }
  bool AllEqual() const override { return true; }
  TPropertyAttributes GetAttributes() const override;
  /// "1.1" for 0x0101.
  std::string GetValue() const override;
};

class QUORLINK_API TQuorAboutEdit : public TStringProperty {
 public:
  static constexpr const char* kClassName = "TQuorAboutEdit";
  const char* ClassName() const override { return kClassName; }
  bool AllEqual() const override { return true; }
  TPropertyAttributes GetAttributes() const override;
  /// The About box of the first selected component.
  void Edit() override;
};

class QUORLINK_API TQuorCategoryEdit : public TEnumProperty {
 public:
  static constexpr const char* kClassName = "TQuorCategoryEdit";
  const char* ClassName() const override { return kClassName; }
  bool AllEqual() const override { return true; }
  TPropertyAttributes GetAttributes() const override;
};

/// Flags is the kind's constant, like Category: shown, never typed.
class QUORLINK_API TQuorFlagsEdit : public TSetProperty {
 public:
  static constexpr const char* kClassName = "TQuorFlagsEdit";
  const char* ClassName() const override { return kClassName; }
  bool AllEqual() const override { return true; }
  TPropertyAttributes GetAttributes() const override;
};

class QUORLINK_API TQuorDescriptionEdit : public TStringProperty {
 public:
  static constexpr const char* kClassName = "TQuorDescriptionEdit";
  const char* ClassName() const override { return kClassName; }
  bool AllEqual() const override { return true; }
  TPropertyAttributes GetAttributes() const override;
};

class QUORLINK_API TQuorServiceEdit : public TStringProperty {
 public:
  static constexpr const char* kClassName = "TQuorServiceEdit";
  const char* ClassName() const override { return kClassName; }
  TPropertyAttributes GetAttributes() const override { return {paValueList, paSortList}; }
  /// The service-class names in table order; the inspector sorts them.
  void GetValues(const TGetStrProc& proc) const override;
};

class QUORLINK_API TQuorBTAddressEdit : public TStringProperty {
 public:
  static constexpr const char* kClassName = "TQuorBTAddressEdit";
  const char* ClassName() const override { return kClassName; }
  bool AllEqual() const override { return true; }
  TPropertyAttributes GetAttributes() const override;
  /// The platform's device picker for the first selected component; the
  /// choice goes through the Address setter, which rejects "" (cancelled).
  void Edit() override;
};

}  // namespace quorlink
