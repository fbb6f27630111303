/// @file
/// The few visual classes the library builds dialogs from: forms with labels
/// and buttons, shown through a pluggable presenter (a window on Windows, text
/// on the console elsewhere; a script in tests). Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"
#include "quorlink/core/TypInfo.h"

namespace quorlink {

enum TPosition : std::uint8_t {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
enum TFormBorderStyle : std::uint8_t {
  bsNone,
  bsSingle,
  bsSizeable,
  bsDialog,
  bsToolWindow,
  bsSizeToolWin
};
enum TBorderIcon : std::uint8_t { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TSet<TBorderIcon>;
enum TFontStyle : std::uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;

/// Virtual key codes a form reacts to; <windows.h>'s macros of the same
/// values stand in for them where it is included.
#ifndef VK_RETURN
constexpr WORD VK_RETURN = 0x0D;
#endif
#ifndef VK_ESCAPE
constexpr WORD VK_ESCAPE = 0x1B;
#endif

using TNotifyEvent = TEvent<TObject*>;

struct TFont {
  std::string Name = "MS Sans Serif";
  int Height = -11;  ///< negative: the character height in pixels
  TFontStyles Style;
  friend bool operator==(const TFont&, const TFont&) = default;
};

class TForm;

/// Something placed on a form; positions are in pixels of the form's client area.
class QUORLINK_API TControl : public TComponent {
 public:
  using TComponent::TComponent;
  ~TControl() override;
  const char* ClassName() const override { return "TControl"; }

  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  std::string Caption;

  TForm* Parent() const { return parent_; }
  /// Places the control on the form (nullptr: takes it off).
  void SetParent(TForm* parent);
  /// The form's font while ParentFont; setting an own font clears ParentFont.
  const TFont& Font() const;
  void SetFont(const TFont& font);
  bool ParentFont() const { return parentFont_; }

 private:
  friend class TForm;
  TForm* parent_ = nullptr;
  TFont font_;
  bool parentFont_ = true;
};

class QUORLINK_API TLabel : public TControl {
 public:
  explicit TLabel(TComponent* owner);
  const char* ClassName() const override { return "TLabel"; }
  bool AutoSize = true;  ///< the size follows the caption
};

class QUORLINK_API TButton : public TControl {
 public:
  explicit TButton(TComponent* owner);  ///< the default size, 75 x 25
  const char* ClassName() const override { return "TButton"; }

  bool Cancel = false;   ///< Escape on the form presses it
  bool Default = false;  ///< Enter on the form presses it
  TModalResult ModalResult = mrNone;
  TNotifyEvent OnClick;

  /// OnClick, then the button's modal result becomes its form's.
  void Click();
};

/// The host's form, made at run time (no stored layout of its own).
class QUORLINK_API TForm : public TComponent {
 public:
  using TComponent::TComponent;
  ~TForm() override;
  const char* ClassName() const override { return "TForm"; }

  int Left = 0;
  int Top = 0;
  int Width = 320;
  int Height = 240;
  std::string Caption;
  TPosition Position = poDesigned;
  TFormBorderStyle BorderStyle = bsSizeable;
  TBorderIcons BorderIcons{biSystemMenu, biMinimize, biMaximize};
  TFont Font;
  /// Set while shown modally: anything but mrNone ends the modal loop.
  TModalResult ModalResult = mrNone;

  /// The client area inside the frame that the border style gives.
  int ClientWidth() const;
  int ClientHeight() const;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const;
  bool Visible() const { return visible_; }

  /// Shows the form through the presenter and runs the modal loop until
  /// ModalResult is set; the form is hidden again whatever ends the loop.
  TModalResult ShowModal();
  /// The system menu's close: a modal form ends with mrCancel.
  void Close();
  /// A key pressed while the form has the focus: Enter clicks the default
  /// button, Escape the cancel button; other keys do nothing here.
  void KeyDown(WORD key);

 private:
  friend class TControl;
  TButton* FindButton(bool TButton::*flag) const;

  std::vector<TControl*> controls_;  ///< placed on the form, in z-order
  bool visible_ = false;
};

/// How forms reach the user. Show and Hide bracket one modal loop;
/// WaitInput waits for the user's next action and passes it to the form
/// (KeyDown, a button's Click, Close). WaitInput returns false when nothing
/// more can come; the form is then closed.
class QUORLINK_API TFormPresenter {
 public:
  virtual ~TFormPresenter() = default;
  virtual void Show(TForm& form) = 0;
  virtual void Hide(TForm& form) = 0;
  virtual bool WaitInput(TForm& form) = 0;
};

/// The installed presenter, or the platform's own: a window on Windows, the
/// console elsewhere.
QUORLINK_API TFormPresenter& FormPresenter();
/// Returns the previous one; nullptr restores the platform's own.
QUORLINK_API TFormPresenter* SetFormPresenter(TFormPresenter* presenter);

class QUORLINK_API ScopedFormPresenter {
 public:
  explicit ScopedFormPresenter(TFormPresenter& p) : previous_(SetFormPresenter(&p)) {}
  ~ScopedFormPresenter() { SetFormPresenter(previous_); }
  ScopedFormPresenter(const ScopedFormPresenter&) = delete;
  ScopedFormPresenter& operator=(const ScopedFormPresenter&) = delete;

 private:
  TFormPresenter* previous_;
};

/// The application object in its role as the owner of forms: what it still
/// owns is freed when the program ends.
QUORLINK_API TComponent* ApplicationOwner();

/// The caption without its accelerator marks ("&Close" is "Close", "&&" is "&").
QUORLINK_API std::string StripHotkey(const std::string& caption);

}  // namespace quorlink
