#include "quorlink/design/QuorReg.h"

#include "core/StandardTypes.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/design/DesignRegistry.h"
#include "quorlink/design/QuorPropEdit.h"

namespace quorlink {

namespace {
// Matched by kind and name against the properties' own descriptors.
const TTypeInfo kCategory{TTypeKind::tkEnumeration,
                          "TQuorTransportCategory",
                          {"tcBluetooth", "tcCOMPort", "tcIrDA"},
                          0,
                          2};
const TTypeInfo kFlags{TTypeKind::tkSet, "TQuorTransportFlags", {"tfClient", "tfServer"}, 0, 3};
}  // namespace

void Register() {
  RegisterComponents("Quorlink", {TComponentClass::Of<TQuorComPort>("TQuorComPort"),
                                  TComponentClass::Of<TQuorBluetooth>("TQuorBluetooth")});
  const auto base = TComponentClass::Of<TQuorBaseComponent>("TQuorBaseComponent");
  const auto transport = TComponentClass::Of<TQuorCustomTransport>("TQuorCustomTransport");
  const auto bluetooth = TComponentClass::Of<TQuorBluetooth>("TQuorBluetooth");
  RegisterPropertyEditor(kStringType, &base, "About", EditorClass<TQuorAboutEdit>());
  RegisterPropertyEditor(kWordType, &base, "Version", EditorClass<TQuorVersionEdit>());
  RegisterPropertyEditor(kCategory, &transport, "Category", EditorClass<TQuorCategoryEdit>());
  RegisterPropertyEditor(kFlags, &transport, "Flags", EditorClass<TQuorFlagsEdit>());
  RegisterPropertyEditor(kStringType, &transport, "Description",
                         EditorClass<TQuorDescriptionEdit>());
  RegisterPropertyEditor(kStringType, &bluetooth, "Service", EditorClass<TQuorServiceEdit>());
  RegisterPropertyEditor(kStringType, &bluetooth, "Address", EditorClass<TQuorBTAddressEdit>());
}

}  // namespace quorlink
