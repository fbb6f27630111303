// Forms as real Win32 windows: a top-level dialog-framed window with a
// STATIC for each label and a BUTTON for each button, at the form's pixel
// positions. The modal loop is the thread's own message loop, so the
// application's hidden windows go on getting their messages while a form is
// up. Where no window can be made (no desktop), the form goes to the console.
#pragma once

#include <memory>
#include <vector>

#include "quorlink/core/Forms.h"
#include "quorlink/core/TextPresenter.h"

namespace quorlink::platform {

struct TFormWindow;

class TWinFormPresenter : public TFormPresenter {
 public:
  TWinFormPresenter();
  ~TWinFormPresenter() override;
  TWinFormPresenter(const TWinFormPresenter&) = delete;
  TWinFormPresenter& operator=(const TWinFormPresenter&) = delete;

  void Show(TForm& form) override;
  void Hide(TForm& form) override;
  bool WaitInput(TForm& form) override;

 private:
  TFormWindow* Find(const TForm& form) const;

  // One per form shown, the innermost last (a button may show another form).
  std::vector<std::unique_ptr<TFormWindow>> shown_;
  std::vector<const TForm*> onConsole_;
  TTextPresenter console_;
};

}  // namespace quorlink::platform
