#include <gtest/gtest.h>

#include "design/DesignFixture.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/design/QuorPropEdit.h"

namespace quorlink {
namespace {

using testing::DesignFixture;
using DesignRegistryTest = DesignFixture;

std::string EditorName(const TComponent& c, const std::string& property) {
  for (const TPropInfo& p : c.Properties())
    if (p.Name == property) return DesignRegistry().GetEditorClass(c, p).Name;
  return "(no property " + property + ")";
}

TEST_F(DesignRegistryTest, PalettePageHoldsTheSerialPortFirstOnceOnly) {
  Register();  // a designer that loads the library again adds nothing
  ASSERT_EQ(registry.Pages().size(), 1u);
  const TPalettePage& page = registry.Pages()[0];
  EXPECT_EQ(page.Name, "Quorlink");
  ASSERT_EQ(page.Classes.size(), 2u);
  EXPECT_EQ(page.Classes[0].ClassName(), "TQuorComPort");
  EXPECT_EQ(page.Classes[1].ClassName(), "TQuorBluetooth");
  // The form reader can make what the palette offers.
  EXPECT_TRUE(FindClass("TQuorBluetooth"));
  ASSERT_NE(registry.FindComponentClass("tquorcomport"), nullptr);
  EXPECT_EQ(registry.FindComponentClass("TQuorCustomTransport"), nullptr);
}

TEST_F(DesignRegistryTest, RegistrationsServeDescendantsAndTheMostDerivedClassWins) {
  TQuorComPort port(nullptr);
  TQuorBluetooth bt(nullptr);
  for (const TComponent* c : std::vector<const TComponent*>{&port, &bt}) {
    SCOPED_TRACE(c->ClassName());
    EXPECT_EQ(EditorName(*c, "About"), "TQuorAboutEdit");
    EXPECT_EQ(EditorName(*c, "Version"), "TQuorVersionEdit");
    EXPECT_EQ(EditorName(*c, "Category"), "TQuorCategoryEdit");
    EXPECT_EQ(EditorName(*c, "Description"), "TQuorDescriptionEdit");
    EXPECT_EQ(EditorName(*c, "Flags"), "TQuorFlagsEdit");
    EXPECT_EQ(EditorName(*c, "OnError"), "TMethodProperty");
    EXPECT_EQ(EditorName(*c, "OnRead"), "TMethodProperty");
    EXPECT_EQ(EditorName(*c, "Name"), "TStringProperty");
  }
  EXPECT_EQ(EditorName(bt, "Service"), "TQuorServiceEdit");
  EXPECT_EQ(EditorName(bt, "Address"), "TQuorBTAddressEdit");
  EXPECT_EQ(EditorName(bt, "ServiceName"), "TStringProperty");
  EXPECT_EQ(EditorName(bt, "Port"), "TIntegerProperty");  // "Cardinal", not "Word"
  EXPECT_EQ(EditorName(port, "BaudRate"), "TEnumProperty");

  // A registration for the descendant wins over the ancestor's whichever
  // came first; the ancestor's still serves its other descendants.
  const auto btClass = TComponentClass::Of<TQuorBluetooth>("TQuorBluetooth");
  const auto base = TComponentClass::Of<TQuorBaseComponent>("TQuorBaseComponent");
  const TTypeInfo string{TTypeKind::tkString, "string", {}, 0, 0};
  RegisterPropertyEditor(string, &btClass, "About", EditorClass<TStringProperty>());
  RegisterPropertyEditor(string, &base, "About", EditorClass<TQuorDescriptionEdit>());
  EXPECT_EQ(EditorName(bt, "About"), "TStringProperty");
  EXPECT_EQ(EditorName(port, "About"), "TQuorDescriptionEdit");
  // By class, as the palette asks before anything is made.
  for (const TPropInfo& p : bt.Properties()) {
    if (p.Name != "Address") continue;
    EXPECT_EQ(registry.GetEditorClass(btClass, p).Name, "TQuorBTAddressEdit");
  }
  // A registration for any property of the type yields to a named one.
  RegisterPropertyEditor(string, &btClass, "", EditorClass<TPropertyEditor>());
  EXPECT_EQ(EditorName(bt, "Address"), "TQuorBTAddressEdit");
  EXPECT_EQ(EditorName(bt, "ServiceName"), "TPropertyEditor");
  EXPECT_EQ(EditorName(port, "Name"), "TStringProperty");
}

}  // namespace
}  // namespace quorlink
