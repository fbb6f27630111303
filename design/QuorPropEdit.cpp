#include "quorlink/design/QuorPropEdit.h"

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/core/QuorBaseComponent.h"

namespace quorlink {

TPropertyAttributes TQuorVersionEdit::GetAttributes() const {
  return TPropertyEditor::GetAttributes() + TPropertyAttributes{paReadOnly};
}

std::string TQuorVersionEdit::GetValue() const {
  const std::int64_t v = GetOrdValue();
  return IntToStr((v >> 8) & 0xFF) + "." + IntToStr(v & 0xFF);
}

TPropertyAttributes TQuorAboutEdit::GetAttributes() const {
  return TPropertyEditor::GetAttributes() + TPropertyAttributes{paDialog, paReadOnly};
}

void TQuorAboutEdit::Edit() {
  auto* component = dynamic_cast<TQuorBaseComponent*>(GetComponent(0));
  if (component == nullptr) throw EQuorTransportException(_Str_InvalidArgument);
  component->ShowAbout();
}

TPropertyAttributes TQuorCategoryEdit::GetAttributes() const {
  return TEnumProperty::GetAttributes() + TPropertyAttributes{paReadOnly};
}

TPropertyAttributes TQuorFlagsEdit::GetAttributes() const {
  return TSetProperty::GetAttributes() + TPropertyAttributes{paReadOnly};
}

TPropertyAttributes TQuorDescriptionEdit::GetAttributes() const {
  return TPropertyEditor::GetAttributes() + TPropertyAttributes{paReadOnly};
}

void TQuorServiceEdit::GetValues(const TGetStrProc& proc) const {
  for (const auto& row : QuorServiceGUIDsName) proc(row.Name);
}

TPropertyAttributes TQuorBTAddressEdit::GetAttributes() const {
  return TPropertyEditor::GetAttributes() + TPropertyAttributes{paDialog};
}

void TQuorBTAddressEdit::Edit() {
  auto* bluetooth = dynamic_cast<TQuorBluetooth*>(GetComponent(0));
  if (bluetooth == nullptr) throw EQuorTransportException(_Str_InvalidArgument);
  SetStrValue(bluetooth->SelectDevice());
}

}  // namespace quorlink
