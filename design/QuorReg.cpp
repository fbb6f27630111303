#include "design/QuorReg.h"

#include "bluetooth/QuorBluetooth.h"
#include "comport/QuorComPort.h"
#include "design/DesignRegistry.h"
#include "design/QuorPropEdit.h"

namespace quorlink {

namespace {
// Matched by kind and name against the properties' own descriptors.
const TTypeInfo kString{TTypeKind::tkString, "string", {}, 0, 0};
const TTypeInfo kWord{TTypeKind::tkInteger, "Word", {}, 0, 0xFFFF};
const TTypeInfo kCategory{TTypeKind::tkEnumeration,
                          "TQuorTransportCategory",
                          {"tcBluetooth", "tcCOMPort", "tcIrDA"},
                          0,
                          2};
}  // namespace

void Register() {
  RegisterComponents("Quorlink", {TComponentClass::Of<TQuorComPort>("TQuorComPort"),
                                  TComponentClass::Of<TQuorBluetooth>("TQuorBluetooth")});
  const auto base = TComponentClass::Of<TQuorBaseComponent>("TQuorBaseComponent");
  const auto transport = TComponentClass::Of<TQuorCustomTransport>("TQuorCustomTransport");
  const auto bluetooth = TComponentClass::Of<TQuorBluetooth>("TQuorBluetooth");
  RegisterPropertyEditor(kString, &base, "About", EditorClass<TQuorAboutEdit>());
  RegisterPropertyEditor(kWord, &base, "Version", EditorClass<TQuorVersionEdit>());
  RegisterPropertyEditor(kCategory, &transport, "Category", EditorClass<TQuorCategoryEdit>());
  RegisterPropertyEditor(kString, &transport, "Description", EditorClass<TQuorDescriptionEdit>());
  RegisterPropertyEditor(kString, &bluetooth, "Service", EditorClass<TQuorServiceEdit>());
  RegisterPropertyEditor(kString, &bluetooth, "Address", EditorClass<TQuorBTAddressEdit>());
}

}  // namespace quorlink
