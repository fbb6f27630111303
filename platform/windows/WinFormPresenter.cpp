#include "platform/windows/WinFormPresenter.h"

#include <algorithm>
#include <utility>

#include "platform/FormPresenter.h"
#include "platform/windows/WinFormPresenterWindow.h"

namespace quorlink::platform {

namespace {

// Dialog keys (Enter, Escape, Tab, accelerators) first; the rest, including
// the application's hidden windows' messages, the usual way.
void Handle(MSG& msg, ::HWND form) {
  if (IsDialogMessageW(form, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

::HWND FirstFocus(const TFormWindow& data) {
  const TForm& form = *data.Form;
  ::HWND first = nullptr;
  for (int i = 0; i < form.ControlCount(); ++i) {
    auto* button = dynamic_cast<TButton*>(form.Controls(i));
    if (button == nullptr) continue;
    ::HWND child = GetDlgItem(data.Window, kFirstControlId + i);
    if (button->Default) return child;
    if (first == nullptr) first = child;
  }
  return first;
}

}  // namespace

TWinFormPresenter::TWinFormPresenter() = default;
TWinFormPresenter::~TWinFormPresenter() = default;

TFormWindow* TWinFormPresenter::Find(const TForm& form) const {
  for (const auto& data : shown_)
    if (data->Form == &form) return data.get();
  return nullptr;
}

void TWinFormPresenter::Show(TForm& form) {
  std::unique_ptr<TFormWindow> data = CreateFormWindow(form);
  if (data == nullptr) {
    // No desktop to show it on (a service, a session without a display).
    onConsole_.push_back(&form);
    try {
      console_.Show(form);
    } catch (...) {
      onConsole_.pop_back();
      throw;
    }
    return;
  }
  ::HWND window = data->Window;
  shown_.push_back(std::move(data));
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  SetForegroundWindow(window);
  ::HWND focus = FirstFocus(*shown_.back());
  SetFocus(focus != nullptr ? focus : window);
}

void TWinFormPresenter::Hide(TForm& form) {
  auto console = std::find(onConsole_.begin(), onConsole_.end(), &form);
  if (console != onConsole_.end()) {
    onConsole_.erase(console);
    console_.Hide(form);
    return;
  }
  auto it = std::find_if(shown_.begin(), shown_.end(),
                         [&](const auto& data) { return data->Form == &form; });
  if (it != shown_.end()) shown_.erase(it);
}

bool TWinFormPresenter::WaitInput(TForm& form) {
  if (std::find(onConsole_.begin(), onConsole_.end(), &form) != onConsole_.end())
    return console_.WaitInput(form);
  TFormWindow* data = Find(form);
  if (data == nullptr) return false;
  MSG msg;
  const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
  if (got == -1) return false;
  bool more = got != 0;
  if (more) Handle(msg, data->Window);
  // Whatever else is queued now, until the form has its answer.
  while (more && form.ModalResult == mrNone && !data->Error &&
         PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    more = msg.message != WM_QUIT;
    if (more) Handle(msg, data->Window);
  }
  // The program is quitting: the form closes, and the loop outside it sees
  // the quit as well.
  if (!more) PostQuitMessage(static_cast<int>(msg.wParam));
  if (data->Error) std::rethrow_exception(std::exchange(data->Error, nullptr));
  return more;
}

TFormPresenter& OsFormPresenter() {
  static TWinFormPresenter windows;
  return windows;
}

}  // namespace quorlink::platform
