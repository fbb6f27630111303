#include "quorlink/core/Forms.h"
#include "quorlink/core/QuorBaseComponent.h"

namespace quorlink {

namespace {

void AddLabel(TForm& form, int left, int top, const char* caption) {
  auto* label = new TLabel(&form);
  label->SetParent(&form);
  label->Left = left;
  label->Top = top;
  label->Caption = caption;
}

}  // namespace

void TQuorBaseComponent::ShowAbout() {
  // The form owns the labels and the button: freeing it frees them all.
  auto* form = new TForm(ApplicationOwner());
  try {
    form->Position = poDesktopCenter;
    form->BorderStyle = bsDialog;
    form->BorderIcons = {biSystemMenu};
    form->Width = 384;
    form->Height = 190;
    form->Caption = "Quorlink Library " + VersionText(GetVersion());

    AddLabel(*form, 75, 15, "Quorlink Library 1.0");
    auto* title = static_cast<TLabel*>(form->Controls(0));
    TFont font = title->Font();
    font.Height = -16;
    font.Style = {fsBold};
    title->SetFont(font);
    AddLabel(*form, 95, 45, "Serial port and Bluetooth links");
    AddLabel(*form, 130, 65, "for desktop applications");
    AddLabel(*form, 135, 85, "(c) The Quorlink developers");

    auto* close = new TButton(form);
    close->SetParent(form);
    close->Left = 290;
    close->Top = 115;
    close->Caption = "&Close";
    close->Cancel = true;
    close->Default = true;
    close->ModalResult = mrOk;

    form->ShowModal();
  } catch (...) {
    Free(form);
    throw;
  }
  Free(form);
}

}  // namespace quorlink
