// A presenter that plays a script of user actions, one per wait, and lets
// the test look at the form while it is shown.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "quorlink/core/Forms.h"

namespace quorlink::testing {

class ScriptedPresenter : public TFormPresenter {
 public:
  struct Step {
    enum class Kind { Key, Click, Close } Action;
    WORD Key = 0;
    std::string Button;  // Click: the caption of the button to press
  };
  static Step Key(WORD key) { return {Step::Kind::Key, key, {}}; }
  static Step Click(std::string caption) { return {Step::Kind::Click, 0, std::move(caption)}; }
  static Step CloseBox() { return {Step::Kind::Close, 0, {}}; }

  std::deque<Step> Script;
  std::function<void(TForm&)> OnShow;  // called while the form is shown
  int Shows = 0;
  int Hides = 0;
  int Waits = 0;
  TModalResult LastResult = mrNone;  // the form's, when it was hidden

  void Show(TForm& form) override {
    ++Shows;
    if (OnShow) OnShow(form);
  }
  void Hide(TForm& form) override {
    ++Hides;
    LastResult = form.ModalResult;
  }
  // An exhausted script ends the loop, so a test can never hang here.
  bool WaitInput(TForm& form) override {
    ++Waits;
    if (Script.empty()) return false;
    Step step = Script.front();
    Script.pop_front();
    switch (step.Action) {
      case Step::Kind::Key:
        form.KeyDown(step.Key);
        break;
      case Step::Kind::Click:
        for (int i = 0; i < form.ControlCount(); ++i) {
          auto* button = dynamic_cast<TButton*>(form.Controls(i));
          if (button != nullptr && button->Caption == step.Button) button->Click();
        }
        break;
      case Step::Kind::Close:
        form.Close();
        break;
    }
    return true;
  }
};

}  // namespace quorlink::testing
