#include "quorlink/core/Forms.h"

#include <algorithm>

#include "platform/FormPresenter.h"

namespace quorlink {

// ---- TControl ----

TControl::~TControl() {
  SetParent(nullptr);
}

void TControl::SetParent(TForm* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) {
    auto& list = parent_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  parent_ = parent;
  if (parent_ != nullptr) parent_->controls_.push_back(this);
}

const TFont& TControl::Font() const {
  return parentFont_ && parent_ != nullptr ? parent_->Font : font_;
}

void TControl::SetFont(const TFont& font) {
  font_ = font;
  parentFont_ = false;
}

TLabel::TLabel(TComponent* owner) : TControl(owner) {}

TButton::TButton(TComponent* owner) : TControl(owner) {
  Width = 75;
  Height = 25;
}

void TButton::Click() {
  if (OnClick) OnClick(this);
  if (ModalResult != mrNone && Parent() != nullptr) Parent()->ModalResult = ModalResult;
}

// ---- TForm ----

TForm::~TForm() {
  // The controls outlive this part of the form (its owner part frees them),
  // so they must not reach back into it.
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
}

namespace {
struct TFrame {
  int Border;
  int CaptionBar;
};

TFrame FrameOf(TFormBorderStyle style) {
  switch (style) {
    case bsNone:
      return {0, 0};
    case bsSizeable:
      return {4, 19};
    case bsToolWindow:
      return {3, 15};
    case bsSizeToolWin:
      return {4, 15};
    default:
      return {3, 19};
  }
}
}  // namespace

int TForm::ClientWidth() const {
  return std::max(0, Width - 2 * FrameOf(BorderStyle).Border);
}

int TForm::ClientHeight() const {
  TFrame f = FrameOf(BorderStyle);
  return std::max(0, Height - 2 * f.Border - f.CaptionBar);
}

TControl* TForm::Controls(int index) const {
  if (index < 0 || index >= ControlCount())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return controls_[static_cast<std::size_t>(index)];
}

TModalResult TForm::ShowModal() {
  if (visible_) throw Exception("Cannot make a visible window modal");
  TFormPresenter& presenter = FormPresenter();
  ModalResult = mrNone;
  visible_ = true;
  try {
    presenter.Show(*this);
  } catch (...) {
    visible_ = false;
    throw;
  }
  try {
    while (ModalResult == mrNone)
      if (!presenter.WaitInput(*this)) Close();
  } catch (...) {
    visible_ = false;
    presenter.Hide(*this);
    throw;
  }
  visible_ = false;
  presenter.Hide(*this);
  return ModalResult;
}

void TForm::Close() {
  if (visible_) ModalResult = mrCancel;
}

TButton* TForm::FindButton(bool TButton::*flag) const {
  for (TControl* c : controls_) {
    auto* button = dynamic_cast<TButton*>(c);
    if (button != nullptr && button->*flag) return button;
  }
  return nullptr;
}

void TForm::KeyDown(WORD key) {
  TButton* button = nullptr;
  if (key == VK_RETURN) button = FindButton(&TButton::Default);
  if (key == VK_ESCAPE) button = FindButton(&TButton::Cancel);
  if (button != nullptr) button->Click();
}

// ---- presenters and the application's forms ----

namespace {
TFormPresenter* installed = nullptr;
}  // namespace

TFormPresenter& FormPresenter() {
  return installed != nullptr ? *installed : platform::OsFormPresenter();
}

TFormPresenter* SetFormPresenter(TFormPresenter* presenter) {
  return std::exchange(installed, presenter);
}

TComponent* ApplicationOwner() {
  static TComponent owner(nullptr);
  return &owner;
}

std::string StripHotkey(const std::string& caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 == caption.size()) break;
      ++i;
    }
    out += caption[i];
  }
  return out;
}

}  // namespace quorlink
