// The window that shows one form: made from the form's controls, answers
// Enter, Escape, the buttons and the system menu's close by acting on the
// form. Main thread only.
#pragma once

#include <windows.h>

#include <exception>
#include <memory>
#include <vector>

#include "quorlink/core/Forms.h"

namespace quorlink::platform {

struct TFormWindow {
  TForm* Form = nullptr;
  ::HWND Window = nullptr;
  std::vector<HFONT> Fonts;
  // The thread's other windows, disabled while this one is modal.
  std::vector<::HWND> Disabled;
  // Raised by the form while a message was being handled; thrown again once
  // the message loop has it back, never across the system's frames.
  std::exception_ptr Error;

  TFormWindow() = default;
  TFormWindow(const TFormWindow&) = delete;
  TFormWindow& operator=(const TFormWindow&) = delete;
  // Enables what was disabled, destroys the window, then its fonts.
  ~TFormWindow();
};

// Null with the system's error code set when the window cannot be made.
std::unique_ptr<TFormWindow> CreateFormWindow(TForm& form);

// The first control id; Enter and Escape arrive as IDOK and IDCANCEL.
constexpr int kFirstControlId = 100;

}  // namespace quorlink::platform
