/// @file
/// Forms as text on the console, for programs without a display: the form is
/// printed once; when the input is a terminal its keys reach the form (Enter,
/// Escape; Ctrl-C or Ctrl-D close it) while the application's messages go on
/// being handled.
#pragma once

#include <string>

#include "quorlink/core/Export.h"
#include "quorlink/core/Forms.h"

namespace quorlink {

class QUORLINK_API TTextPresenter : public TFormPresenter {
 public:
  void Show(TForm& form) override;
  void Hide(TForm& form) override;
  /// False at once when the input is not a terminal: nobody can answer.
  bool WaitInput(TForm& form) override;
};

/// The form drawn in characters, one for each 8 x 16 pixels of its client
/// area, framed, with the caption bar above.
QUORLINK_API std::string RenderForm(const TForm& form);

}  // namespace quorlink
