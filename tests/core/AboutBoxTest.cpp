#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "quorlink/core/Forms.h"
#include "quorlink/core/QuorBaseComponent.h"
#include "support/ScriptedPresenter.h"

namespace quorlink {
namespace {

using testing::ScriptedPresenter;

void ExpectLabel(const TControl* c, int left, int top) {
  SCOPED_TRACE(left);
  const auto* label = dynamic_cast<const TLabel*>(c);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->Left, left);
  EXPECT_EQ(label->Top, top);
  EXPECT_FALSE(label->Caption.empty());
}

TEST(AboutBox, IsLaidOutExactly) {
  ScriptedPresenter presenter;
  ScopedFormPresenter scope(presenter);
  bool checked = false;
  presenter.OnShow = [&](TForm& form) {
    EXPECT_EQ(form.Owner(), ApplicationOwner());
    EXPECT_EQ(form.Position, poDesktopCenter);
    EXPECT_EQ(form.BorderStyle, bsDialog);
    EXPECT_EQ(form.BorderIcons, TBorderIcons{biSystemMenu});
    EXPECT_EQ(form.Width, 384);
    EXPECT_EQ(form.Height, 190);
    EXPECT_EQ(form.Caption, "Quorlink Library 1.1");
    ASSERT_EQ(form.ControlCount(), 5);
    ASSERT_EQ(form.ComponentCount(), 5);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(form.Controls(i)->Owner(), &form);
      EXPECT_EQ(form.Controls(i)->Parent(), &form);
    }

    ExpectLabel(form.Controls(0), 75, 15);
    EXPECT_EQ(form.Controls(0)->Caption, "Quorlink Library 1.0");
    EXPECT_FALSE(form.Controls(0)->ParentFont());
    EXPECT_EQ(form.Controls(0)->Font().Height, -16);
    EXPECT_EQ(form.Controls(0)->Font().Style, TFontStyles{fsBold});
    EXPECT_EQ(form.Controls(0)->Font().Name, form.Font.Name);
    ExpectLabel(form.Controls(1), 95, 45);
    ExpectLabel(form.Controls(2), 130, 65);
    ExpectLabel(form.Controls(3), 135, 85);
    for (int i = 1; i <= 3; ++i) {
      EXPECT_TRUE(form.Controls(i)->ParentFont());
      EXPECT_EQ(form.Controls(i)->Font(), form.Font);
    }

    const auto* button = dynamic_cast<const TButton*>(form.Controls(4));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->Left, 290);
    EXPECT_EQ(button->Top, 115);
    EXPECT_EQ(button->Width, 75);
    EXPECT_EQ(button->Height, 25);
    EXPECT_EQ(button->Caption, "&Close");
    EXPECT_TRUE(button->Cancel);
    EXPECT_TRUE(button->Default);
    EXPECT_EQ(button->ModalResult, mrOk);
    EXPECT_TRUE(form.Visible());
    checked = true;
  };
  presenter.Script = {ScriptedPresenter::Key(VK_RETURN)};
  TQuorBaseComponent component(nullptr);
  component.ShowAbout();
  EXPECT_TRUE(checked);
}

TEST(AboutBox, EnterEscapeTheButtonAndTheCloseBoxEndTheModalLoop) {
  const std::pair<ScriptedPresenter::Step, TModalResult> endings[] = {
      {ScriptedPresenter::Key(VK_RETURN), mrOk},
      {ScriptedPresenter::Key(VK_ESCAPE), mrOk},
      {ScriptedPresenter::Click("&Close"), mrOk},
      {ScriptedPresenter::CloseBox(), mrCancel},
  };
  for (const auto& [ending, result] : endings) {
    ScriptedPresenter presenter;
    ScopedFormPresenter scope(presenter);
    // Other keys leave the box open.
    presenter.Script = {ScriptedPresenter::Key('A'), ScriptedPresenter::Key(0x20), ending,
                        ScriptedPresenter::Key(VK_RETURN)};
    TQuorBaseComponent component(nullptr);
    component.ShowAbout();
    EXPECT_EQ(presenter.Waits, 3);
    EXPECT_EQ(presenter.Script.size(), 1u);
    EXPECT_EQ(presenter.Shows, 1);
    EXPECT_EQ(presenter.Hides, 1);
    EXPECT_EQ(presenter.LastResult, result);
  }
}

// Counts its own destruction.
class Sentinel : public TComponent {
 public:
  Sentinel(TComponent* owner, int& freed) : TComponent(owner), freed_(freed) {}
  ~Sentinel() override { ++freed_; }

 private:
  int& freed_;
};

TEST(AboutBox, FreesTheFormAndEverythingOnItAfterwardsEvenWhenShowingFails) {
  for (bool fail : {false, true}) {
    ScriptedPresenter presenter;
    ScopedFormPresenter scope(presenter);
    int freed = 0;
    presenter.OnShow = [&](TForm& form) {
      new Sentinel(&form, freed);
      for (int i = 0; i < form.ControlCount(); ++i) new Sentinel(form.Controls(i), freed);
      if (fail) throw std::runtime_error("no display");
    };
    presenter.Script = {ScriptedPresenter::Click("&Close")};
    const int owned = ApplicationOwner()->ComponentCount();
    TQuorBaseComponent component(nullptr);
    if (fail)
      EXPECT_THROW(component.ShowAbout(), std::runtime_error);
    else
      component.ShowAbout();
    EXPECT_EQ(freed, 6);
    EXPECT_EQ(ApplicationOwner()->ComponentCount(), owned);
  }
}

}  // namespace
}  // namespace quorlink
