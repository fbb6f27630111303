#include <gtest/gtest.h>

#include <algorithm>

#include "design/DesignFixture.h"
#include "platform/BluetoothApi.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/design/QuorPropEdit.h"
#include "support/FormGadget.h"
#include "support/ScriptedPresenter.h"
#include "support/VirtualRadios.h"

namespace quorlink {
namespace {

using testing::DesignFixture;
using QuorPropEditTest = DesignFixture;

TEST_F(QuorPropEditTest, ConstantPropertiesAreShownReadOnlyForAnySelection) {
  TQuorComPort port(nullptr);
  TQuorBluetooth bt(nullptr);
  const std::vector<TComponent*> both{&port, &bt};

  auto version = EditorFor(both, "Version");
  EXPECT_EQ(version->GetValue(), "1.1");
  EXPECT_EQ(version->GetAttributes().Bits(), 0x08 | 0x80 | 0x40);
  EXPECT_TRUE(version->AllEqual());

  auto about = EditorFor(both, "About");
  EXPECT_EQ(about->GetValue(), "Quorlink Library");
  EXPECT_EQ(about->GetAttributes().Bits(), 0x08 | 0x80 | 0x04 | 0x40);

  // Different kinds differ in these, and the inspector still shows a value.
  auto category = EditorFor(both, "Category");
  EXPECT_EQ(category->GetValue(), "tcCOMPort");
  EXPECT_TRUE(category->AllEqual());
  EXPECT_EQ(category->GetAttributes().Bits(), 0x01 | 0x08 | 0x20 | 0x80 | 0x40);
  auto description = EditorFor({&bt, &port}, "Description");
  EXPECT_EQ(description->GetValue(), "Bluetooth Transport");
  EXPECT_TRUE(description->AllEqual());
  EXPECT_EQ(description->GetAttributes().Bits(), 0x08 | 0x80 | 0x40);

  // An ordinary property of the two differs and shows no value.
  EXPECT_FALSE(EditorFor(both, "Port")->AllEqual());
}

TEST_F(QuorPropEditTest, AboutEllipsisOpensTheAboutBoxOfTheFirstSelected) {
  testing::ScriptedPresenter presenter;
  ScopedFormPresenter scope(presenter);
  std::string caption;
  presenter.OnShow = [&](TForm& form) { caption = form.Caption; };
  presenter.Script = {testing::ScriptedPresenter::Click("&Close")};
  TQuorBluetooth bt(nullptr);
  EditorFor({&bt}, "About")->Edit();
  EXPECT_EQ(presenter.Shows, 1);
  EXPECT_EQ(caption, "Quorlink Library 1.1");
  EXPECT_EQ(presenter.LastResult, mrOk);
}

TEST_F(QuorPropEditTest, ServiceListsEveryTableRowInOrderAndTakesTypedNames) {
  TQuorBluetooth bt(nullptr), other(nullptr);
  auto service = EditorFor({&bt}, "Service");
  EXPECT_EQ(service->GetAttributes().Bits(), 0x01 | 0x20);  // nothing inherited
  std::vector<std::string> names;
  service->GetValues([&](const std::string& n) { names.push_back(n); });
  ASSERT_EQ(names.size(), 52u);
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], QuorServiceGUIDsName[i].Name);
  EXPECT_FALSE(std::is_sorted(names.begin(), names.end()));  // the inspector sorts

  service->SetValue(names[3]);
  EXPECT_EQ(bt.GetService(), names[3]);
  EXPECT_EQ(service->GetValue(), names[3]);
  // Not paMultiSelect: the base's AllEqual compares.
  auto pair = EditorFor({&bt, &other}, "Service");
  EXPECT_FALSE(pair->AllEqual());
  other.SetService(names[3]);
  EXPECT_TRUE(pair->AllEqual());
}

TEST_F(QuorPropEditTest, AddressEllipsisStoresTheChosenDeviceAndRejectsACancel) {
  testing::VirtualRadios radios;
  TQuorBluetooth bt(nullptr);
  auto address = EditorFor({&bt}, "Address");
  EXPECT_EQ(address->GetAttributes().Bits(), 0x08 | 0x80 | 0x04);

  auto previous = platform::SetDevicePicker([](const auto& devices) {
    for (std::size_t i = 0; i < devices.size(); ++i)
      if (devices[i].address == testing::kServerRadio) return static_cast<int>(i);
    return -1;
  });
  address->Edit();
  EXPECT_EQ(bt.GetAddress(), testing::kServerText);
  EXPECT_EQ(address->GetValue(), testing::kServerText);

  platform::SetDevicePicker([](const auto&) { return -1; });
  EXPECT_EQ(Raised([&] { address->Edit(); }), "Invalid argument.");
  EXPECT_EQ(bt.GetAddress(), testing::kServerText);
  // Typed text goes to the same setter.
  EXPECT_EQ(Raised([&] { address->SetValue("(00:11:22)"); }), "Invalid argument.");
  address->SetValue(testing::kClientText);
  EXPECT_EQ(bt.GetAddress(), testing::kClientText);
  platform::SetDevicePicker(previous);
}

TEST_F(QuorPropEditTest, ASetterThatRaisesLeavesTheWholeSelectionAsItWas) {
  testing::TGadget a(nullptr), b(nullptr), c(nullptr);
  a.Title = b.Title = c.Title = "old";
  b.Locked = true;
  auto title = EditorFor({&a, &b, &c}, "Title");
  EXPECT_EQ(Raised([&] { title->SetValue("new"); }), "Gadget locked.");
  EXPECT_EQ(a.Title, "old");
  EXPECT_EQ(c.Title, "old");

  // The family's own editors check before they set.
  auto count = EditorFor({&a}, "Count");
  EXPECT_EQ(Raised([&] { count->SetValue("1001"); }), "Value must be between -1000 and 1000.");
  EXPECT_EQ(Raised([&] { count->SetValue("ten"); }), "'ten' is not a valid integer value");
  count->SetValue("$10");
  EXPECT_EQ(a.Count, 16);
  auto options = EditorFor({&a}, "Options");
  options->SetValue("[goBlue, goRed]");
  EXPECT_EQ(options->GetValue(), "[goRed,goBlue]");
  // A name the type lacks is refused with the names it has.
  EXPECT_EQ(Raised([&] { options->SetValue("[goPink]"); }),
            "Invalid property value goPink (one of goRed, goGreen, goBlue)");
  EXPECT_EQ(Raised([&] { EditorFor({&a}, "Mode")->SetValue("gmSideways"); }),
            "Invalid property value gmSideways (one of gmOff, gmSlow, gmFast)");
}

}  // namespace
}  // namespace quorlink
