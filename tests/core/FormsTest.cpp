#include <gtest/gtest.h>

#include <stdexcept>

#include "quorlink/core/Forms.h"
#include "support/ScriptedPresenter.h"

namespace quorlink {
namespace {

using testing::ScriptedPresenter;

TButton* AddButton(TForm& form, const char* caption, TModalResult result) {
  auto* b = new TButton(&form);
  b->SetParent(&form);
  b->Caption = caption;
  b->ModalResult = result;
  return b;
}

TEST(Forms, KeysPressOnlyTheButtonsMarkedForThem) {
  ScriptedPresenter presenter;
  ScopedFormPresenter scope(presenter);
  TForm form(nullptr);
  int clicks = 0;
  TButton* apply = AddButton(form, "&Apply", mrNone);  // clicks, but does not close
  apply->Default = true;
  apply->OnClick = TNotifyEvent([&](TObject* sender) {
    EXPECT_EQ(sender, apply);
    ++clicks;
  });
  AddButton(form, "&Yes", 6);
  presenter.Script = {ScriptedPresenter::Key(VK_ESCAPE), ScriptedPresenter::Key(VK_RETURN),
                      ScriptedPresenter::Click("&Apply"), ScriptedPresenter::Click("&Yes")};
  EXPECT_EQ(form.ShowModal(), 6);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(presenter.Waits, 4);
  EXPECT_FALSE(form.Visible());
}

TEST(Forms, AnExhaustedPresenterClosesTheForm) {
  ScriptedPresenter presenter;
  ScopedFormPresenter scope(presenter);
  TForm form(nullptr);
  EXPECT_EQ(form.ShowModal(), mrCancel);
  EXPECT_EQ(presenter.Hides, 1);
}

TEST(Forms, AHandlerThatRaisesStillHidesTheForm) {
  ScriptedPresenter presenter;
  ScopedFormPresenter scope(presenter);
  TForm form(nullptr);
  TButton* ok = AddButton(form, "OK", mrOk);
  ok->OnClick = TNotifyEvent([&](TObject*) {
    EXPECT_THROW(form.ShowModal(), Exception);  // already shown
    throw std::runtime_error("handler failed");
  });
  presenter.Script = {ScriptedPresenter::Click("OK")};
  EXPECT_THROW(form.ShowModal(), std::runtime_error);
  EXPECT_EQ(presenter.Shows, 1);
  EXPECT_EQ(presenter.Hides, 1);
  EXPECT_FALSE(form.Visible());
}

TEST(Forms, ControlsLeaveTheirFormWhenFreedAndFollowItsFont) {
  TForm form(nullptr);
  auto* first = new TLabel(&form);
  auto* second = new TLabel(&form);
  first->SetParent(&form);
  second->SetParent(&form);
  form.Font.Height = -20;
  EXPECT_EQ(second->Font().Height, -20);
  TFont own = second->Font();
  own.Style = {fsItalic};
  second->SetFont(own);
  form.Font.Height = -9;
  EXPECT_EQ(second->Font().Height, -20);
  EXPECT_EQ(first->Font().Height, -9);
  Free(first);
  ASSERT_EQ(form.ControlCount(), 1);
  EXPECT_EQ(form.Controls(0), second);
  EXPECT_EQ(form.ComponentCount(), 1);
  EXPECT_THROW(form.Controls(1), EListError);
  EXPECT_EQ(StripHotkey("&Save && &exit&"), "Save & exit");
}

}  // namespace
}  // namespace quorlink
